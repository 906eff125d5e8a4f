#pragma once
// RunLoopUdpSocket: a UDP socket scheduled on one run loop. It makes an IPv4 and an IPv6
// datagram socket at creation (each may be switched off), binds or connects them on request,
// and keeps a queue of sends and a queue of receives, each finished in order with the caller's
// tag and an optional time-out. It can join a multicast group and enable broadcast.
//
// Threads: everything happens on the thread of the run loop it was made on; the delegate is
// held strongly and called synchronously from the socket's run-loop callbacks. Misuse (binding
// twice, joining before binding, anything after close) raises platform::Exception named
// "RunLoopUdpSocketException". Send and receive failures do not close the socket.
//
// Descriptor fields hold -1 for "none": 0 is a valid descriptor.

#include <netinet/in.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Value.h"
#include "sockets/dispatch/SocketData.h"
#include "sockets/runloop/RunLoopReceivePacket.h"
#include "sockets/runloop/RunLoopSendPacket.h"
#include "sockets/runloop/RunLoopUdpSocketDelegate.h"

inline constexpr const char* kRunLoopUdpSocketErrorDomain = "RunLoopUdpSocketErrorDomain";
inline constexpr const char* kRunLoopUdpSocketException = "RunLoopUdpSocketException";

class RunLoopUdpSocket : public std::enable_shared_from_this<RunLoopUdpSocket> {
 public:
  enum ErrorCode {
    kCFSocketError = -1,
    kNoError = 0,
    kBadParamError = 1,
    kIPv4UnavailableError = 2,
    kIPv6UnavailableError = 3,
    kSendTimeoutError = 4,
    kReceiveTimeoutError = 5,
  };

  // Made on, and scheduled in, the calling thread's run loop.
  static std::shared_ptr<RunLoopUdpSocket> create(
      std::shared_ptr<RunLoopUdpSocketDelegate> delegate = nullptr, long userData = 0,
      bool enableIPv4 = true, bool enableIPv6 = true);
  // One family only, no delegate.
  static std::shared_ptr<RunLoopUdpSocket> initIPv4();
  static std::shared_ptr<RunLoopUdpSocket> initIPv6();

  ~RunLoopUdpSocket();
  RunLoopUdpSocket(const RunLoopUdpSocket&) = delete;
  RunLoopUdpSocket& operator=(const RunLoopUdpSocket&) = delete;

  const std::shared_ptr<RunLoopUdpSocketDelegate>& delegate() const { return theDelegate; }
  void setDelegate(std::shared_ptr<RunLoopUdpSocketDelegate> delegate);
  long userData() const { return theUserData; }
  void setUserData(long value) { theUserData = value; }
  unsigned long maxReceiveBufferSize() const { return _maxReceiveBufferSize; }
  void setMaxReceiveBufferSize(unsigned long size) { _maxReceiveBufferSize = size; }

  std::vector<std::string> runLoopModes() const { return theRunLoopModes; }
  bool moveToRunLoop(const std::shared_ptr<platform::RunLoop>& runLoop);
  bool setRunLoopModes(const std::vector<std::string>& modes);

  // Local and peer address: the kept value once bound or connected, else asked of the IPv4
  // socket, else the IPv6 one (empty or 0 when there is nothing to ask).
  std::string localHost();
  std::uint16_t localPort();
  std::string connectedHost();
  std::uint16_t connectedPort();
  static std::string addressHost(const platform::Bytes& address);
  bool isConnected() const;
  bool isConnectedToHost(const std::string& host, std::uint16_t port);
  bool isClosed() const;
  bool isIPv4() const { return theSocket4 >= 0; }
  bool isIPv6() const { return theSocket6 >= 0; }
  // The MTU of the interface that holds the socket's local address; 0 when unknown.
  unsigned maximumTransmissionUnit() const;

  bool bindToPort(std::uint16_t port, platform::Error* error = nullptr);
  // `host` empty = any address, "localhost" or "loopback" = the loopback addresses.
  bool bindToAddress(const std::string& host, std::uint16_t port, platform::Error* error = nullptr);
  bool connectToHost(const std::string& host, std::uint16_t port, platform::Error* error = nullptr);
  bool connectToAddress(const platform::Bytes& remoteAddr, platform::Error* error = nullptr);
  bool joinMulticastGroup(const std::string& group, platform::Error* error = nullptr);
  bool joinMulticastGroup(const std::string& group, const std::string& interfaceAddress,
                          platform::Error* error);
  bool enableBroadcast(bool flag, platform::Error* error = nullptr);

  // Queue a datagram; false when it cannot be queued (empty data, closing, wrong kind of socket
  // for the form, an address of a family without a socket).
  bool sendData(const SocketData& data, double timeout, long tag);
  bool sendData(const SocketData& data, const std::string& host, std::uint16_t port, double timeout,
                long tag);
  bool sendData(const SocketData& data, const platform::Bytes& address, double timeout, long tag);
  void receiveWithTimeout(double timeout, long tag);

  void close();
  void closeAfterSending();
  void closeAfterReceiving();
  void closeAfterSendingAndReceiving();

 protected:
  RunLoopUdpSocket(std::shared_ptr<RunLoopUdpSocketDelegate> delegate, long userData,
                   bool enableIPv4, bool enableIPv6);

 private:
  enum Flag : std::uint16_t {
    kDidBind = 0x0001,
    kDidConnect = 0x0002,
    kSock4CanAcceptBytes = 0x0004,
    kSock6CanAcceptBytes = 0x0008,
    kSock4HasBytesAvailable = 0x0010,
    kSock6HasBytesAvailable = 0x0020,
    kForbidSendReceive = 0x0040,
    kCloseAfterSends = 0x0080,
    kCloseAfterReceives = 0x0100,
    kDidClose = 0x0200,
    kDequeueSendScheduled = 0x0400,
    kDequeueReceiveScheduled = 0x0800,
    kFlipFlop = 0x1000,
  };

  std::shared_ptr<RunLoopUdpSocket> self() { return shared_from_this(); }
  void raise(const char* reason) const;
  platform::Error errorWithCode(ErrorCode code) const;
  // 0 or a resolver error code; `passive` for binding.
  int convertHost(const std::string& host, std::uint16_t port, bool passive,
                  std::optional<platform::Bytes>* address4,
                  std::optional<platform::Bytes>* address6) const;
  // Watches both descriptors from the run loop, in every mode.
  void attachSources();
  void closeSocket(int& fd, std::shared_ptr<platform::RunLoopSource>& source);
  bool setAddress(int fd, const platform::Bytes& address);
  std::string hostOf(int fd, bool peer);
  std::uint16_t portOf(int fd, bool peer);
  int socketForPacket(const RunLoopSendPacket& packet) const;
  void onSocketEvent(int fd, unsigned events);
  void reenable(int fd);
  bool ready(int fd, short event) const;
  void performDeferred(void (RunLoopUdpSocket::*step)());

  bool queueSend(const std::shared_ptr<RunLoopSendPacket>& packet);
  void scheduleDequeueSend();
  void scheduleDequeueReceive();
  void maybeDequeueSend();
  void maybeDequeueReceive();
  void doSend(int fd);
  void doReceive(int fd);
  void failCurrentSend(const platform::Error& error);
  void failCurrentReceive(const platform::Error& error);
  void endCurrentSend();
  void endCurrentReceive();
  void doSendTimeout(const std::shared_ptr<platform::Timer>& timer);
  void doReceiveTimeout(const std::shared_ptr<platform::Timer>& timer);
  void maybeScheduleClose();
  void emptyQueues();
  // Takes sources and timers out of the run loop and cancels the deferred steps.
  void detachFromRunLoop();
  void afterRunLoopChange();

  // Owned by the socket's run-loop thread.
  int theSocket4 = -1;
  int theSocket6 = -1;
  std::shared_ptr<platform::RunLoopSource> theSource4;
  std::shared_ptr<platform::RunLoopSource> theSource6;
  std::shared_ptr<platform::RunLoop> theRunLoop;
  std::vector<std::string> theRunLoopModes;
  std::deque<std::shared_ptr<RunLoopSendPacket>> theSendQueue;
  std::shared_ptr<RunLoopSendPacket> theCurrentSend;
  std::shared_ptr<platform::Timer> theSendTimer;
  std::deque<std::shared_ptr<RunLoopReceivePacket>> theReceiveQueue;
  std::shared_ptr<RunLoopReceivePacket> theCurrentReceive;
  std::shared_ptr<platform::Timer> theReceiveTimer;
  std::shared_ptr<RunLoopUdpSocketDelegate> theDelegate;
  std::uint16_t theFlags = 0;
  long theUserData;
  std::string cachedLocalHost;
  std::uint16_t cachedLocalPort = 0;
  std::string cachedConnectedHost;
  std::uint16_t cachedConnectedPort = 0;
  unsigned long _maxReceiveBufferSize = 9216;
};
