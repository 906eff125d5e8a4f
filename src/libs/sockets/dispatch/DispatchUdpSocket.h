#pragma once
// DispatchUdpSocket: a datagram socket over an IPv4 and an IPv6 descriptor side by side, whose
// state lives on one serial queue of its own. Its owner binds, connects, sends and receives from
// any thread; every outcome comes to a delegate (held strongly) on the delegate queue.
//
// Threads: operations that answer something run synchronously on the socket queue (inline when
// already there); commands are queued. Sends are always queued, so they keep their order.
//
// Lifetime: once its descriptors exist, the socket is held by their event sources until it is
// closed.
//
// Choosing a family: a destination that resolves to several addresses is sent to (or connected
// to) only through a family whose descriptor is open and enabled; when none fits, the datagram
// or connect fails through the delegate and the socket stays open. A read event with nothing
// to read is never taken as an end: an empty datagram or an ICMP error is consumed and the
// socket goes on.

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Source.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/SharedObject.h"
#include "platform/foundation/Value.h"
#include "sockets/dispatch/DispatchUdpSendPacket.h"
#include "sockets/dispatch/DispatchUdpSocketDelegate.h"
#include "sockets/dispatch/DispatchUdpSpecialPacket.h"

inline constexpr const char* kDispatchUdpSocketErrorDomain = "DispatchUdpSocketErrorDomain";

enum DispatchUdpSocketError : int {
  kDispatchUdpSocketNoError = 0,
  kDispatchUdpSocketBadConfigError = 1,
  kDispatchUdpSocketBadParamError = 2,
  kDispatchUdpSocketSendTimeoutError = 3,
  kDispatchUdpSocketClosedError = 4,
  kDispatchUdpSocketOtherError = 5,
};

namespace platform {
class SocketStream;
}

class DispatchUdpSocket : public std::enable_shared_from_this<DispatchUdpSocket> {
  CH_SHARED_OBJECT(DispatchUdpSocket)

 public:
  using QueuePtr = std::shared_ptr<platform::dispatch::Queue>;
  using DelegatePtr = std::shared_ptr<DispatchUdpSocketDelegate>;
  // (data, address, context slot) -> deliver?
  using ReceiveFilterBlock = std::function<bool(
      const platform::Bytes& data, const platform::Bytes& address, std::shared_ptr<void>* context)>;
  // (data, address, tag) -> send?
  using SendFilterBlock =
      std::function<bool(const platform::Bytes& data, const platform::Bytes& address, long tag)>;

  ~DispatchUdpSocket();

  // --- Delegate and configuration ---
  DelegatePtr delegate() const;
  void setDelegate(DelegatePtr delegate);
  void synchronouslySetDelegate(DelegatePtr delegate);
  QueuePtr delegateQueue() const;
  void setDelegateQueue(QueuePtr delegateQueue);
  void synchronouslySetDelegateQueue(QueuePtr delegateQueue);
  void getDelegate(DelegatePtr* delegatePtr, QueuePtr* delegateQueuePtr) const;
  void setDelegate(DelegatePtr delegate, QueuePtr delegateQueue);
  void synchronouslySetDelegate(DelegatePtr delegate, QueuePtr delegateQueue);

  bool isIPv4Enabled() const;
  void setIPv4Enabled(bool flag);
  bool isIPv6Enabled() const;
  void setIPv6Enabled(bool flag);
  bool isIPv4Preferred() const;
  bool isIPv6Preferred() const;
  bool isIPVersionNeutral() const;
  void setPreferIPv4();
  void setPreferIPv6();
  void setIPVersionNeutral();
  std::uint16_t maxReceiveIPv4BufferSize() const;
  void setMaxReceiveIPv4BufferSize(std::uint16_t max);
  std::uint32_t maxReceiveIPv6BufferSize() const;
  void setMaxReceiveIPv6BufferSize(std::uint32_t max);
  std::shared_ptr<void> userData() const;
  void setUserData(std::shared_ptr<void> userData);

  // --- Addresses ---
  std::optional<platform::Bytes> localAddress() const;
  std::optional<std::string> localHost() const;
  std::uint16_t localPort() const;
  std::optional<platform::Bytes> localAddress_IPv4() const;
  std::optional<std::string> localHost_IPv4() const;
  std::uint16_t localPort_IPv4() const;
  std::optional<platform::Bytes> localAddress_IPv6() const;
  std::optional<std::string> localHost_IPv6() const;
  std::uint16_t localPort_IPv6() const;
  std::optional<platform::Bytes> connectedAddress() const;
  std::optional<std::string> connectedHost() const;
  std::uint16_t connectedPort() const;
  bool isConnected() const;
  bool isClosed() const;
  bool isIPv4() const;
  bool isIPv6() const;

  // --- Binding, connecting, multicast, broadcast ---
  // `interface` "" means every address of both families.
  bool bindToPort(std::uint16_t port, platform::Error* errPtr = nullptr);
  bool bindToPort(std::uint16_t port, const std::string& interface,
                  platform::Error* errPtr = nullptr);
  bool bindToAddress(const platform::Bytes& localAddr, platform::Error* errPtr = nullptr);
  // Queues a connect; true means queued, the outcome comes through the delegate.
  bool connectToHost(const std::string& host, std::uint16_t port,
                     platform::Error* errPtr = nullptr);
  bool connectToAddress(const platform::Bytes& remoteAddr, platform::Error* errPtr = nullptr);
  bool joinMulticastGroup(const std::string& group, platform::Error* errPtr = nullptr);
  bool joinMulticastGroup(const std::string& group, const std::string& interface,
                          platform::Error* errPtr = nullptr);
  bool leaveMulticastGroup(const std::string& group, platform::Error* errPtr = nullptr);
  bool leaveMulticastGroup(const std::string& group, const std::string& interface,
                           platform::Error* errPtr = nullptr);
  bool enableBroadcast(bool flag, platform::Error* errPtr = nullptr);

  // --- Sending (empty data is ignored; timeouts in seconds, below 0 none) ---
  void sendData(const platform::Bytes& data, double timeout, long tag);
  void sendData(const platform::Bytes& data, const std::string& host, std::uint16_t port,
                double timeout, long tag);
  void sendData(const platform::Bytes& data, const platform::Bytes& remoteAddr, double timeout,
                long tag);
  // A filter needs a queue (null filter: none).
  void setSendFilter(SendFilterBlock filterBlock, QueuePtr filterQueue, bool isAsynchronous);

  // --- Receiving and closing ---
  bool receiveOnce(platform::Error* errPtr = nullptr);
  bool beginReceiving(platform::Error* errPtr = nullptr);
  void pauseReceiving();
  void setReceiveFilter(ReceiveFilterBlock filterBlock, QueuePtr filterQueue);
  void setReceiveFilter(ReceiveFilterBlock filterBlock, QueuePtr filterQueue, bool isAsynchronous);
  void close();
  void closeAfterSending();

  // --- Class operations ---
  static std::optional<std::string> hostFromAddress(const platform::Bytes& address);
  static std::uint16_t portFromAddress(const platform::Bytes& address);
  static int familyFromAddress(const platform::Bytes& address);
  static bool isIPv4Address(const platform::Bytes& address);
  static bool isIPv6Address(const platform::Bytes& address);

  // --- Errors ---
  static platform::Error badConfigError(const std::string& errMsg);
  static platform::Error badParamError(const std::string& errMsg);
  static platform::Error gaiError(int gai_error);
  static platform::Error errnoErrorWithReason(const std::string& reason);
  static platform::Error errnoError();
  static platform::Error sendTimeoutError();
  static platform::Error socketClosedError();
  static platform::Error otherError(const std::string& errMsg);

  // --- Running on the socket queue, raw access, streams ---
  // Runs `block` on the socket queue and waits for it (inline when already there).
  void performBlock(const std::function<void()>& block);
  // Inside `performBlock` only (elsewhere -1): the IPv4 descriptor when open, else the IPv6 one.
  int socketFD() const;
  // Inside `performBlock` only (elsewhere null): a stream pair over each open descriptor, made on
  // first ask; the IPv4 stream when there is one, else the IPv6 one. The streams never close the
  // descriptors and go with the socket's close. Their events are served by the process-wide
  // "DispatchUdpSocket-CFStream" thread, so a caller touches them only through that thread.
  std::shared_ptr<platform::SocketStream> readStream();
  std::shared_ptr<platform::SocketStream> writeStream();
  // Keeping datagram sockets alive in the background is not offered: always false.
  bool enableBackgroundingOnSockets();
  // The application returns to the foreground: the receive sources suspended while the socket
  // held unread datagrams are resumed, on the socket queue. A socket not receiving suspends them
  // again at the next read event. Every socket observes
  // "UIApplicationWillEnterForegroundNotification" from creation to destruction.
  void applicationWillEnterForeground();

 private:
  DispatchUdpSocket();
  explicit DispatchUdpSocket(QueuePtr sq);
  DispatchUdpSocket(DelegatePtr aDelegate, QueuePtr dq);
  DispatchUdpSocket(DelegatePtr aDelegate, QueuePtr dq, QueuePtr sq);

  enum Flag : std::uint32_t {
    udpFlagSocketsCreated = 1u << 0,
    udpFlagBound = 1u << 1,
    udpFlagConnecting = 1u << 2,
    udpFlagConnected = 1u << 3,
    udpFlagReceiveOnce = 1u << 4,
    udpFlagReceiveContinuous = 1u << 5,
    udpFlagIPv4Deactivated = 1u << 6,
    udpFlagIPv6Deactivated = 1u << 7,
    udpFlagSend4Suspended = 1u << 8,
    udpFlagSend6Suspended = 1u << 9,
    udpFlagReceive4Suspended = 1u << 10,
    udpFlagReceive6Suspended = 1u << 11,
    udpFlagSocket4Writable = 1u << 12,
    udpFlagSocket6Writable = 1u << 13,
    udpFlagCloseAfterSends = 1u << 15,
    udpFlagAlternateReceive = 1u << 16,
  };
  enum Config : std::uint16_t {
    udpConfigIPv4Disabled = 1u << 0,
    udpConfigIPv6Disabled = 1u << 1,
    udpConfigPreferIPv4 = 1u << 2,
    udpConfigPreferIPv6 = 1u << 3,
  };
  using Packet = std::variant<std::shared_ptr<DispatchUdpSendPacket>,
                              std::shared_ptr<DispatchUdpSpecialPacket>>;
  using Addresses = std::vector<platform::Bytes>;
  using ResolveCompletion =
      std::function<void(const Addresses& addresses, const std::optional<platform::Error>& error)>;

  bool isOnSocketQueue() const;
  void runSync(const std::function<void()>& block) const;
  void runAsync(std::function<void()> block);
  template <class F>
  auto syncValue(F&& f) const -> decltype(f()) {
    if (isOnSocketQueue()) return f();
    return socketQueue->syncValue(std::forward<F>(f));
  }
  void setConfigBits(std::uint16_t set, std::uint16_t clear);
  void notify(
      DispatchUdpSocketDelegate::Call which,
      std::function<void(DispatchUdpSocketDelegate&, const std::shared_ptr<DispatchUdpSocket>&)>
          call);
  void notifyDidConnectToAddress(const platform::Bytes& anAddress);
  void notifyDidNotConnect(const platform::Error& error);
  void notifyDidSendDataWithTag(long tag);
  void notifyDidNotSendDataWithTag(long tag, const platform::Error& error);
  void notifyDidReceiveData(const platform::Bytes& data, const platform::Bytes& address,
                            const std::shared_ptr<void>& context);
  void notifyDidCloseWithError(const std::optional<platform::Error>& error);

  // --- Resolution and sockets ---
  bool preOp(platform::Error* errPtr) const;
  void asyncResolveHost(const std::string& host, std::uint16_t port, ResolveCompletion completion);
  int getAddress(std::optional<platform::Bytes>* addressPtr, platform::Error* errorPtr,
                 const Addresses& addresses) const;
  static void convertNumericHost(const std::string& numericHost, std::uint16_t port,
                                 std::optional<platform::Bytes>* addr4Ptr,
                                 std::optional<platform::Bytes>* addr6Ptr);
  bool isConnectedToAddress4(const platform::Bytes& someAddr4) const;
  bool isConnectedToAddress6(const platform::Bytes& someAddr6) const;
  static std::uint32_t indexOfInterfaceAddr6(const platform::Bytes& interfaceAddr6);
  bool createSockets(platform::Error* errPtr);
  bool createSocket4(bool useIPv4, bool useIPv6, platform::Error* errPtr);
  void setupSendAndReceiveSources(bool ipv4);
  void suspendSendSource(bool ipv4);
  void resumeSendSource(bool ipv4);
  void suspendReceiveSource(bool ipv4);
  void resumeReceiveSource(bool ipv4);
  void closeSocket(bool ipv4);
  void closeSockets();

  // --- Binding and connecting ---
  bool bothFamiliesDisabled(platform::Error* errPtr) const;
  bool preBind(platform::Error* errPtr) const;
  bool preConnect(platform::Error* errPtr) const;
  bool preJoin(platform::Error* errPtr) const;
  bool bindSocket(bool ipv4, const platform::Bytes& address, platform::Error* errPtr);
  void maybeConnect();
  bool connectWithAddress(bool ipv4, const platform::Bytes& address, platform::Error* errPtr);
  bool performMulticastRequest(int requestType, const std::string& group,
                               const std::string& interface, platform::Error* errPtr);
  // Runs `block` on the socket queue and hands back its result and error.
  bool runOperation(platform::Error* errPtr, const std::function<bool(platform::Error*)>& block);

  // --- Sending ---
  void queueSend(std::shared_ptr<DispatchUdpSendPacket> packet);
  void maybeDequeueSend();
  void doPreSend();
  void doSend();
  // Whether a send error concerns only the datagram that met it (the socket stays open).
  static bool failsOnlyThisDatagram(int error);
  void endCurrentSend();
  void setupSendTimerWithTimeout(double timeout);
  void doSendTimeout();
  std::shared_ptr<DispatchUdpSendPacket> currentSendPacket() const;

  // --- Receiving ---
  // A read event: `available` is what the descriptor reports ready.
  void handleReadEvent(bool ipv4, std::size_t available);
  void doReceive();
  void closeWithError(const std::optional<platform::Error>& error);

  // --- Stream pairs (DispatchUdpSocketStreams.cpp) ---
  // The listener thread is started once and lives as long as the process.
  static void startListenerThreadIfNeeded();
  // On the listener thread only: (un)schedule the socket's streams on its run loop.
  static void addStreamListener(DispatchUdpSocket* asyncUdpSocket);
  static void removeStreamListener(DispatchUdpSocket* asyncUdpSocket);
  bool createReadAndWriteStreams(platform::Error* errPtr);
  bool registerForStreamCallbacks(platform::Error* errPtr);
  bool addStreamsToRunLoop(platform::Error* errPtr);
  bool openStreams(platform::Error* errPtr);
  void removeStreamsFromRunLoop();
  void closeReadAndWriteStreams();
  // On the listener thread: hands an error or end event over to the socket queue.
  void streamClientCallback(const std::shared_ptr<platform::SocketStream>& stream, unsigned type,
                            bool readSide);

  // Read-only after creation.
  QueuePtr socketQueue;

  // Owned by the socket queue.
  DelegatePtr _delegate;
  QueuePtr _delegateQueue;
  ReceiveFilterBlock receiveFilterBlock;
  QueuePtr receiveFilterQueue;
  bool receiveFilterAsync = false;
  SendFilterBlock sendFilterBlock;
  QueuePtr sendFilterQueue;
  bool sendFilterAsync = false;
  std::uint32_t flags = 0;
  // Set by closeAfterSending and kept past the close (which clears flags) until the socket is
  // opened again by a bind, connect or receive.
  bool sendsRefused = false;
  std::uint16_t config = 0;
  std::uint16_t max4ReceiveSize = 9216;
  std::uint32_t max6ReceiveSize = 9216;
  int socket4FD = -1;
  int socket6FD = -1;
  std::shared_ptr<platform::dispatch::Source> send4Source;
  std::shared_ptr<platform::dispatch::Source> send6Source;
  std::shared_ptr<platform::dispatch::Source> receive4Source;
  std::shared_ptr<platform::dispatch::Source> receive6Source;
  std::shared_ptr<platform::dispatch::Source> sendTimer;
  // Observes the return to the foreground; dropped first on destruction, which waits for a
  // delivery in progress.
  platform::ObserverToken foregroundObserver_;
  std::optional<Packet> currentSend;
  std::deque<Packet> sendQueue;
  std::size_t socket4FDBytesAvailable = 0;
  std::size_t socket6FDBytesAvailable = 0;
  std::uint32_t pendingFilterOperations = 0;
  std::optional<platform::Bytes> cachedConnectedAddress;
  std::optional<std::string> cachedConnectedHost;
  std::uint16_t cachedConnectedPort = 0;
  int cachedConnectedFamily = AF_UNSPEC;
  std::shared_ptr<void> _userData;
  // The stream pairs over the descriptors (or none) and whether they are scheduled on the
  // listener thread.
  std::shared_ptr<platform::SocketStream> readStream4;
  std::shared_ptr<platform::SocketStream> writeStream4;
  std::shared_ptr<platform::SocketStream> readStream6;
  std::shared_ptr<platform::SocketStream> writeStream6;
  bool streamsOnListenerThread_ = false;
};
