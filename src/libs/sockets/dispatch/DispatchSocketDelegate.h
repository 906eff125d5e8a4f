#pragma once
// DispatchSocketDelegate: what a DispatchSocket tells its owner. Every call is optional: a
// delegate overrides the ones it answers. The defaults say "does not answer": the first time
// one runs it records that on the delegate (`answers()` is false from then on), so the socket
// stops sending that call and behaves as it does for a delegate without it: an accepted socket
// nobody takes is closed, a timed-out read or write closes the socket at once.
//
// Calls arrive asynchronously on the delegate queue the socket was given, never on the caller's
// stack, so a delegate may call any operation of the socket from inside one. The socket holds
// its delegate weakly; each queued call holds it strongly until it has run.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/Queue.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"
#include "sockets/dispatch/SocketData.h"

class DispatchSocket;

class DispatchSocketDelegate {
 public:
  // One bit per optional call.
  enum Call : std::uint32_t {
    kNewSocketQueueForConnection = 1u << 0,
    kDidAcceptNewSocket = 1u << 1,
    kDidConnectToHost = 1u << 2,
    kDidReadData = 1u << 3,
    kDidReadPartialData = 1u << 4,
    kShouldTimeoutRead = 1u << 5,
    kDidWriteData = 1u << 6,
    kDidWritePartialData = 1u << 7,
    kShouldTimeoutWrite = 1u << 8,
    kDidCloseReadStream = 1u << 9,
    kDidSecure = 1u << 10,
    kDidDisconnect = 1u << 11,
  };

  virtual ~DispatchSocketDelegate() = default;

  // False once the default of `call` has run on this delegate. Any thread.
  bool answers(Call call) const {
    return (unanswered_.load(std::memory_order_relaxed) & call) == 0;
  }

  // For each accepted connection, before its socket is made: the serial queue the new socket
  // should run on (`address` is the peer's socket address), or null for a queue of its own.
  virtual std::shared_ptr<platform::dispatch::Queue> newSocketQueueForConnectionFromAddress(
      const platform::Bytes& address, const std::shared_ptr<DispatchSocket>& sock);
  // A listening socket accepted `newSocket`, which already has this delegate and delegate queue.
  // The delegate owns it from here; an accepted socket is closed when this is not answered.
  virtual void socketDidAcceptNewSocket(const std::shared_ptr<DispatchSocket>& sock,
                                        const std::shared_ptr<DispatchSocket>& newSocket);
  // An outgoing connection was established.
  virtual void socketDidConnectToHost(const std::shared_ptr<DispatchSocket>& sock,
                                      const std::string& host, std::uint16_t port);
  // A queued read completed: `data` is its result, `tag` the read's own.
  virtual void socketDidReadData(const std::shared_ptr<DispatchSocket>& sock,
                                 const SocketData& data, long tag);
  // A read pass took `partialLength` bytes without completing the read of `tag`.
  virtual void socketDidReadPartialDataOfLength(const std::shared_ptr<DispatchSocket>& sock,
                                                std::size_t partialLength, long tag);
  // The read of `tag` ran out of time after `elapsed` seconds with `length` bytes read. A
  // positive answer gives it that many seconds more; anything else closes the socket with the
  // read timeout error.
  virtual std::optional<double> socketShouldTimeoutReadWithTag(
      const std::shared_ptr<DispatchSocket>& sock, long tag, double elapsed, std::size_t length);
  // A queued write completed.
  virtual void socketDidWriteDataWithTag(const std::shared_ptr<DispatchSocket>& sock, long tag);
  // A write pass sent `partialLength` bytes without completing the write of `tag`.
  virtual void socketDidWritePartialDataOfLength(const std::shared_ptr<DispatchSocket>& sock,
                                                 std::size_t partialLength, long tag);
  // As for reads, on the write side (the write timeout error when not extended).
  virtual std::optional<double> socketShouldTimeoutWriteWithTag(
      const std::shared_ptr<DispatchSocket>& sock, long tag, double elapsed, std::size_t length);
  // The peer closed its sending side while the socket stays open for writing (half-duplex).
  virtual void socketDidCloseReadStream(const std::shared_ptr<DispatchSocket>& sock);
  // A TLS handshake completed.
  virtual void socketDidSecure(const std::shared_ptr<DispatchSocket>& sock);
  // The socket was closed after having been started: no error when the owner asked for it,
  // else what ended it. Sent at most once per listening or connected period.
  virtual void socketDidDisconnect(const std::shared_ptr<DispatchSocket>& sock,
                                   const std::optional<platform::Error>& err);

 private:
  // What the defaults do.
  void doesNotAnswer(Call call) const { unanswered_.fetch_or(call, std::memory_order_relaxed); }

  mutable std::atomic<std::uint32_t> unanswered_{0};
};
