#pragma once
// RunLoopUdpSocketDelegate: what a RunLoopUdpSocket tells its owner. Every call is optional; a
// default records that the delegate does not answer it (`answers()` is false from then on).
// Calls are made on the thread of the socket's run loop; the close notice comes one pass after
// the close. A delegate may call any operation of the socket from inside a call.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/foundation/Error.h"
#include "sockets/dispatch/SocketData.h"

class RunLoopUdpSocket;

class RunLoopUdpSocketDelegate {
 public:
  enum Call : std::uint32_t {
    kDidSendData = 1u << 0,
    kDidNotSendData = 1u << 1,
    kDidReceiveData = 1u << 2,
    kDidNotReceiveData = 1u << 3,
    kDidClose = 1u << 4,
  };

  virtual ~RunLoopUdpSocketDelegate() = default;

  bool answers(Call call) const { return (unanswered_ & call) == 0; }

  virtual void onUdpSocketDidSendDataWithTag(const std::shared_ptr<RunLoopUdpSocket>& sock,
                                             long tag);
  virtual void onUdpSocketDidNotSendDataWithTag(const std::shared_ptr<RunLoopUdpSocket>& sock,
                                                long tag, const platform::Error& error);
  // A datagram was taken for the receive of `tag`: true ends that receive, false drops the
  // datagram and keeps the receive (tag and timer) waiting for the next one.
  virtual bool onUdpSocketDidReceiveData(const std::shared_ptr<RunLoopUdpSocket>& sock,
                                         const SocketData& data, long tag, const std::string& host,
                                         std::uint16_t port);
  virtual void onUdpSocketDidNotReceiveDataWithTag(const std::shared_ptr<RunLoopUdpSocket>& sock,
                                                   long tag, const platform::Error& error);
  virtual void onUdpSocketDidClose(const std::shared_ptr<RunLoopUdpSocket>& sock);

 protected:
  void doesNotAnswer(Call call) { unanswered_ |= call; }

 private:
  // Touched only on the socket's run-loop thread.
  std::uint32_t unanswered_ = 0;
};
