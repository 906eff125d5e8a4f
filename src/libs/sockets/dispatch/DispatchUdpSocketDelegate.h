#pragma once
// DispatchUdpSocketDelegate: what a DispatchUdpSocket tells its owner. Every call is optional;
// the defaults say "does not answer" (recorded on first use, `answers()` false from then on), so
// the socket stops queueing that call. Calls arrive asynchronously on the socket's delegate
// queue. Unlike the stream socket, the datagram socket holds its delegate strongly.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

class DispatchUdpSocket;

class DispatchUdpSocketDelegate {
 public:
  enum Call : std::uint32_t {
    kDidConnectToAddress = 1u << 0,
    kDidNotConnect = 1u << 1,
    kDidSendData = 1u << 2,
    kDidNotSendData = 1u << 3,
    kDidReceiveData = 1u << 4,
    kDidClose = 1u << 5,
  };

  virtual ~DispatchUdpSocketDelegate() = default;

  bool answers(Call call) const {
    return (unanswered_.load(std::memory_order_relaxed) & call) == 0;
  }

  // A queued connect reached `address`.
  virtual void udpSocketDidConnectToAddress(const std::shared_ptr<DispatchUdpSocket>& sock,
                                            const platform::Bytes& address);
  // A queued connect failed: resolution, no usable family, or the system's refusal.
  virtual void udpSocketDidNotConnect(const std::shared_ptr<DispatchUdpSocket>& sock,
                                      const platform::Error& error);
  // The datagram of `tag` went to the system, or the send filter declined it.
  virtual void udpSocketDidSendDataWithTag(const std::shared_ptr<DispatchUdpSocket>& sock,
                                           long tag);
  // The datagram of `tag` could not be sent (destination, send failure or time-out).
  virtual void udpSocketDidNotSendDataWithTag(const std::shared_ptr<DispatchUdpSocket>& sock,
                                              long tag, const platform::Error& error);
  // A datagram arrived from `address` and passed the receive filter, which left
  // `filterContext` (null without a filter).
  virtual void udpSocketDidReceiveData(const std::shared_ptr<DispatchUdpSocket>& sock,
                                       const platform::Bytes& data, const platform::Bytes& address,
                                       const std::shared_ptr<void>& filterContext);
  // The socket closed after its descriptors existed; no error when the owner asked for it.
  virtual void udpSocketDidClose(const std::shared_ptr<DispatchUdpSocket>& sock,
                                 const std::optional<platform::Error>& error);

 private:
  void doesNotAnswer(Call call) const { unanswered_.fetch_or(call, std::memory_order_relaxed); }
  mutable std::atomic<std::uint32_t> unanswered_{0};
};
