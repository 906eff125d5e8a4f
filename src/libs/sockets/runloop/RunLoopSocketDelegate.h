#pragma once
// RunLoopSocketDelegate: what a RunLoopSocket tells its owner. Every call is optional: a
// delegate overrides the ones it answers. The defaults say "does not answer": the first time
// one runs it records that on the delegate (`answers()` is false from then on), and the socket
// then behaves as it does for a delegate without that call (a connect goes on, a time-out is
// not extended, the new socket's run loop is the current one).
//
// Calls are made synchronously on the thread of the socket's run loop, from inside the socket's
// own work; a delegate may call any operation of the socket from one, including closing it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Error.h"
#include "platform/foundation/RunLoop.h"
#include "sockets/dispatch/SocketData.h"

class RunLoopSocket;

class RunLoopSocketDelegate {
 public:
  // One bit per optional call.
  enum Call : std::uint32_t {
    kDidAcceptNewSocket = 1u << 0,
    kWantsRunLoopForNewSocket = 1u << 1,
    kWillConnect = 1u << 2,
    kDidConnectToHost = 1u << 3,
    kWillDisconnectWithError = 1u << 4,
    kDidDisconnect = 1u << 5,
    kDidReadData = 1u << 6,
    kDidReadPartialData = 1u << 7,
    kDidWriteData = 1u << 8,
    kDidWritePartialData = 1u << 9,
    kShouldTimeoutRead = 1u << 10,
    kShouldTimeoutWrite = 1u << 11,
    kDidSecure = 1u << 12,
  };

  virtual ~RunLoopSocketDelegate() = default;

  // False once the default of `call` has run on this delegate.
  bool answers(Call call) const { return (unanswered_ & call) == 0; }

  // A listening socket accepted `newSocket` (its streams made, not yet open). The delegate
  // must keep it: the listening socket does not.
  virtual void onSocketDidAcceptNewSocket(const std::shared_ptr<RunLoopSocket>& sock,
                                          const std::shared_ptr<RunLoopSocket>& newSocket);
  // The run loop `newSocket` should live on; null for the current one.
  virtual std::shared_ptr<platform::RunLoop> onSocketWantsRunLoopForNewSocket(
      const std::shared_ptr<RunLoopSocket>& sock, const std::shared_ptr<RunLoopSocket>& newSocket);
  // Before connecting (or before an accepted socket's streams open); false cancels.
  virtual bool onSocketWillConnect(const std::shared_ptr<RunLoopSocket>& sock);
  // Both streams are open.
  virtual void onSocketDidConnectToHost(const std::shared_ptr<RunLoopSocket>& sock,
                                        const std::string& host, std::uint16_t port);
  // The socket is closing because of `error` (none after an orderly end of stream); nothing
  // is torn down yet, so `unreadData()` gives back what no read took.
  virtual void onSocketWillDisconnectWithError(const std::shared_ptr<RunLoopSocket>& sock,
                                               const std::optional<platform::Error>& error);
  // The socket closed.
  virtual void onSocketDidDisconnect(const std::shared_ptr<RunLoopSocket>& sock);
  virtual void onSocketDidReadData(const std::shared_ptr<RunLoopSocket>& sock,
                                   const SocketData& data, long tag);
  virtual void onSocketDidReadPartialDataOfLength(const std::shared_ptr<RunLoopSocket>& sock,
                                                  std::size_t partialLength, long tag);
  virtual void onSocketDidWriteDataWithTag(const std::shared_ptr<RunLoopSocket>& sock, long tag);
  virtual void onSocketDidWritePartialDataOfLength(const std::shared_ptr<RunLoopSocket>& sock,
                                                   std::size_t partialLength, long tag);
  // The read of `tag` ran out of time after `elapsed` seconds with `bytesDone` read: seconds
  // to extend by; 0 or less times it out.
  virtual double onSocketShouldTimeoutReadWithTag(const std::shared_ptr<RunLoopSocket>& sock,
                                                  long tag, double elapsed, std::size_t bytesDone);
  virtual double onSocketShouldTimeoutWriteWithTag(const std::shared_ptr<RunLoopSocket>& sock,
                                                   long tag, double elapsed, std::size_t bytesDone);
  // The TLS upgrade is taken as complete.
  virtual void onSocketDidSecure(const std::shared_ptr<RunLoopSocket>& sock);

 protected:
  void doesNotAnswer(Call call) { unanswered_ |= call; }

 private:
  // Touched only on the socket's run-loop thread.
  std::uint32_t unanswered_ = 0;
};
