#pragma once
// DispatchSocket: a TCP socket whose whole state lives on one serial queue of its own, the
// socket queue. Its owner asks it to listen, read, write or close from any thread; each request
// is carried onto the socket queue, and every outcome comes back to a delegate
// (DispatchSocketDelegate, held weakly) on a second queue the owner names, the delegate queue.
//
// Threads: every public operation may be called from any thread. Operations that answer
// something (getters, `acceptOnInterface`, `disconnect`, the `synchronously...` setters) run
// synchronously on the socket queue, inline when the caller already runs there (a delegate
// whose delegate queue is the socket queue); the other commands are queued asynchronously, so
// requests from one thread keep their order. Read and write requests never report a refusal:
// bad arguments, a socket that is not started or one that is closing drop them silently.
//
// Lifetime: a listening or connected socket is held by its own event sources, so it lives until
// it is closed whoever else lets go of it. Each accepted connection becomes a new socket with a
// queue of its own, handed to the delegate with `socketDidAcceptNewSocket`.
//
// Linux: the IPv6 listener is IPv6-only (so "[::]:P" and "0.0.0.0:P" can both listen), accepted
// descriptors are non-blocking and close-on-exec from the start, and writes never raise SIGPIPE:
// a reset peer ends the socket with an error instead.
//
// Connecting: a host name is resolved on the default-priority global queue; the connect is
// non-blocking and its outcome comes from a write source on the socket queue, so a pending
// connect holds a descriptor and no thread. Results of an attempt that was closed or timed out
// in the meantime are dropped.
//
// TLS: `startTLS` upgrades a connected socket in the middle of its queues. Reads and writes
// queued before it complete in the clear; the handshake starts once both sides have reached it,
// and later requests are served encrypted. The engine is platform/security's SslContext (OpenSSL)
// over the socket's own descriptor: a client verifies the server's chain against the system's
// trust store (and its name, given `platform::kStreamSSLPeerName`) unless the settings relax it.
// The platform's stream pair is not used for TLS here: the settings that would pick it relax the
// engine's checks instead. A connection takes one upgrade; there is no downgrade.
//
// The datagram socket is DispatchUdpSocket.

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

#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Source.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/SharedObject.h"
#include "platform/foundation/Value.h"
#include "platform/net/StreamSSLSettings.h"
#include "sockets/dispatch/DispatchSocketCallPool.h"
#include "sockets/dispatch/DispatchSocketDelegate.h"
#include "sockets/dispatch/DispatchSocketPreBuffer.h"
#include "sockets/dispatch/SocketData.h"
#include "sockets/dispatch/SocketFile.h"

class DispatchReadPacket;
class DispatchSpecialPacket;
namespace platform {
class SocketStream;
}
class DispatchWritePacket;
namespace platform::security {
class SslContext;
}

inline constexpr const char* kDispatchSocketErrorDomain = "DispatchSocketErrorDomain";

// Protocol names ("kSSLProtocol3", "kTLSProtocol1", "kTLSProtocol11", "kTLSProtocol12"); any
// other value leaves that bound unset.
inline constexpr const char* kDispatchSocketSSLProtocolVersionMin =
    "DispatchSocketSSLProtocolVersionMin";
inline constexpr const char* kDispatchSocketSSLProtocolVersionMax =
    "DispatchSocketSSLProtocolVersionMax";
// Array of numbers: the cipher suites to enable, each a 16-bit suite number.
inline constexpr const char* kDispatchSocketSSLCipherSuites = "DispatchSocketSSLCipherSuites";

inline constexpr const char* kDispatchSocketSSLErrorDomain = "kCFStreamErrorDomainSSL";

// Codes of "DispatchSocketErrorDomain".
enum DispatchSocketError : int {
  kDispatchSocketNoError = 0,
  kDispatchSocketBadConfigError = 1,
  kDispatchSocketBadParamError = 2,
  kDispatchSocketConnectTimeoutError = 3,
  kDispatchSocketReadTimeoutError = 4,
  kDispatchSocketWriteTimeoutError = 5,
  kDispatchSocketReadMaxedOutError = 6,
  kDispatchSocketClosedError = 7,
  kDispatchSocketOtherError = 8,
};

class DispatchSocket : public std::enable_shared_from_this<DispatchSocket> {
  CH_SHARED_OBJECT(DispatchSocket)

 public:
  using QueuePtr = std::shared_ptr<platform::dispatch::Queue>;
  using DelegatePtr = std::weak_ptr<DispatchSocketDelegate>;

  // Closes the socket if it is still open (without telling the delegate, which can no longer be
  // handed this socket).
  ~DispatchSocket();

  // --- Delegate and configuration --------------------------------------------------------------

  std::shared_ptr<DispatchSocketDelegate> delegate() const;
  void setDelegate(DelegatePtr delegate);
  void synchronouslySetDelegate(DelegatePtr delegate);
  QueuePtr delegateQueue() const;
  void setDelegateQueue(QueuePtr delegateQueue);
  void synchronouslySetDelegateQueue(QueuePtr delegateQueue);
  // Both in one step; either pointer may be null.
  void getDelegate(std::shared_ptr<DispatchSocketDelegate>* delegatePtr,
                   QueuePtr* delegateQueuePtr) const;
  // Both in one step. (null, null) detaches the socket from its owner.
  void setDelegate(DelegatePtr delegate, QueuePtr delegateQueue);
  void synchronouslySetDelegate(DelegatePtr delegate, QueuePtr delegateQueue);

  bool isIPv4Enabled() const;
  void setIPv4Enabled(bool flag);
  bool isIPv6Enabled() const;
  void setIPv6Enabled(bool flag);
  bool isIPv4PreferredOverIPv6() const;
  void setPreferIPv4OverIPv6(bool flag);

  // The owner's context object; the socket never reads it.
  std::shared_ptr<void> userData() const;
  void setUserData(std::shared_ptr<void> userData);

  // TCP_NODELAY (on by default) on every connected and accepted descriptor: a small write goes
  // out at once instead of waiting until the peer acknowledged the previous one, which a peer
  // that delays its acknowledgements turns into some 40 ms a reply. A listener hands its
  // setting to the sockets it accepts; on a connected socket a change applies at once.
  bool isNoDelayEnabled() const;
  void setNoDelayEnabled(bool flag);

  // Half-duplex switch: true (the default) closes the socket when the peer closes its sending
  // side; false keeps it open for writing and tells the delegate `socketDidCloseReadStream`.
  bool autoDisconnectOnClosedReadStream() const;
  void setAutoDisconnectOnClosedReadStream(bool flag);

  // --- Listening ---------------------------------------------------------------------------------

  // `acceptOnInterface("", port, error)`.
  bool acceptOnPort(std::uint16_t port, platform::Error* errPtr = nullptr);
  // Listens on `interface` ("" for every address, "localhost"/"loopback", an interface name, an
  // IPv4 or IPv6 address, optionally "[address]:port" or "name:port") and `port` (0: the system
  // chooses, and with both families on they share it). False with the reason in `errPtr` when
  // the socket is already started, has no delegate or delegate queue, the interface is unknown,
  // or the system refuses a step; the socket is then left as it was and holds no descriptor.
  // Where both families are asked for and the host lacks one (no IPv6 loopback, IPv6 switched
  // off), the other listens alone; only a host that has neither fails.
  //
  // Out of descriptors (accept fails with EMFILE or ENFILE), a listener stops accepting instead
  // of retrying at once on every wake-up, and starts again when one of the sockets it accepted
  // closes, or after `kAcceptBackOff` seconds on the clock, whichever comes first.
  bool acceptOnInterface(const std::string& interface, std::uint16_t port,
                         platform::Error* errPtr = nullptr);

  static constexpr double kAcceptBackOff = 0.1;
  // True while a listener waits out a shortage of descriptors (see above).
  bool isAcceptPaused() const;

  // The call every listener accepts with: accept4(2) unless a test stands in a call of its own
  // (to fail as a process out of descriptors does, while the connection waits in the real
  // backlog); null puts accept4 back. Starving the whole test process of descriptors instead
  // would starve every other thread in it too.
  using AcceptCall = int (*)(int, sockaddr*, socklen_t*, int);
  static void setAcceptCallForTesting(AcceptCall call);

  // Turns an interface description and a port into an IPv4 and an IPv6 socket address (either
  // may come back absent). A description with two or more colons is one IPv6 address; "[a]:p"
  // gives the address a and the port p; otherwise a part after one colon is the port. A port
  // in the description is used only when `port` is 0.
  static void getInterfaceAddress4(std::optional<platform::Bytes>* interfaceAddr4Ptr,
                                   std::optional<platform::Bytes>* interfaceAddr6Ptr,
                                   const std::string& interfaceDescription, std::uint16_t port);

  // --- Connecting --------------------------------------------------------------------------------
  // Timeouts are seconds; below 0 (or NaN) means none. False, with the reason in `errPtr`, when
  // the attempt cannot start: no delegate or delegate queue, already started, both families
  // off, a bad host or address, an unknown interface, or `socket`/`bind` refused. Once started,
  // the outcome comes to the delegate: `socketDidConnectToHost`, or `socketDidDisconnect` with
  // what went wrong (resolver errors in "kCFStreamErrorDomainNetDB", connect errors in the
  // POSIX domain, the connect timeout error). Reads and writes queued meanwhile start once the
  // connection is up.

  bool connectToHost(const std::string& host, std::uint16_t port,
                     platform::Error* errPtr = nullptr);
  bool connectToHost(const std::string& host, std::uint16_t port, double timeout,
                     platform::Error* errPtr = nullptr);
  // `interface` ("" for none) is the local address to connect from, as for listening; a port in
  // it ("en0:4000") becomes the local port.
  bool connectToHost(const std::string& host, std::uint16_t port, const std::string& interface,
                     double timeout, platform::Error* errPtr = nullptr);
  // `remoteAddr` is a whole IPv4 (16 bytes) or IPv6 (28 bytes) socket address.
  bool connectToAddress(const platform::Bytes& remoteAddr, platform::Error* errPtr = nullptr);
  bool connectToAddress(const platform::Bytes& remoteAddr, double timeout,
                        platform::Error* errPtr = nullptr);
  bool connectToAddress(const platform::Bytes& remoteAddr, const std::string& interface,
                        double timeout, platform::Error* errPtr = nullptr);

  // --- Closing -----------------------------------------------------------------------------------

  // Closes at once, waiting for it; queued reads and writes are dropped. The delegate hears
  // `socketDidDisconnect` with no error. Nothing happens when the socket is not started.
  void disconnect();
  // From now on new reads and writes are ignored; the socket closes (no error) once the queued
  // reads, writes, or both have completed. Queued behind the requests made before it, also when
  // asked on the socket queue.
  void disconnectAfterReading();
  void disconnectAfterWriting();
  void disconnectAfterReadingAndWriting();

  // --- Reading -----------------------------------------------------------------------------------
  // Timeouts are seconds: negative means none, 0 a timer that fires as soon as the read reaches
  // the head of the queue. `tag` comes back with the completion. A caller's `buffer` is shared:
  // the bytes collect in it from `offset` (it grows when needed) and the delivered data is a
  // view of it. `maxLength` 0 means no limit.

  // Whatever is available (at least one byte).
  void readDataWithTimeout(double timeout, long tag);
  void readDataWithTimeout(double timeout, std::shared_ptr<platform::Bytes> buffer,
                           std::size_t offset, long tag);
  void readDataWithTimeout(double timeout, std::shared_ptr<platform::Bytes> buffer,
                           std::size_t offset, std::size_t maxLength, long tag);
  // Exactly `length` bytes (0 queues nothing).
  void readDataToLength(std::size_t length, double timeout, long tag);
  void readDataToLength(std::size_t length, double timeout, std::shared_ptr<platform::Bytes> buffer,
                        std::size_t offset, long tag);
  // Up to and including the terminator `data` (empty queues nothing). Reaching `maxLength`
  // bytes without it closes the socket with kDispatchSocketReadMaxedOutError.
  void readDataToData(const SocketData& data, double timeout, long tag);
  void readDataToData(const SocketData& data, double timeout,
                      std::shared_ptr<platform::Bytes> buffer, std::size_t offset, long tag);
  void readDataToData(const SocketData& data, double timeout, std::size_t maxLength, long tag);
  void readDataToData(const SocketData& data, double timeout,
                      std::shared_ptr<platform::Bytes> buffer, std::size_t offset,
                      std::size_t maxLength, long tag);

  // The current read: its tag, bytes so far and total (0 for reads without a fixed length)
  // through the pointers given, and its progress (1.0 without a fixed length); NaN and zeros
  // when no read is current.
  float progressOfReadReturningTag(long* tagPtr, std::size_t* donePtr, std::size_t* totalPtr) const;

  // --- Writing -----------------------------------------------------------------------------------

  // Queues `data` (held, not copied; empty is ignored). Writes complete in queue order.
  void writeData(const SocketData& data, double timeout, long tag);
  // Queues `head` and then `body` as one write with one completion: on a plain socket both go
  // out in one gathered system call, neither copied (a reply's head and body in one segment
  // rather than two). Both empty is ignored.
  void writeData(const SocketData& head, const SocketData& body, double timeout, long tag);
  // Queues `head` (may be empty) and then `length` bytes of `file` from `offset` as one write
  // with one completion. On a plain socket the stretch goes from the page cache to the socket
  // (sendfile), the head held back (MSG_MORE) to leave with it; a stretch of kLongFileStream or
  // more, one the caller says is `partOfLongStream` (a piece of a long body), and any under TLS,
  // is read through a buffer the socket keeps for this. The bytes are taken from the
  // file as they are sent, not when queued (a file changed meanwhile gives what it holds then). A
  // file that ends before those bytes are out closes the socket with kDispatchSocketOtherError: the
  // peer sees the bytes sent so far, then the close. sendfile cannot be asked not to raise SIGPIPE,
  // so the first file write sets SIGPIPE to ignored for the process while it has its default
  // action.
  void writeFile(const SocketData& head, std::shared_ptr<const SocketFile> file,
                 std::uint64_t offset, std::size_t length, double timeout, long tag,
                 bool partOfLongStream = false);
  // From this length on a stream of a file's bytes goes copied: measured over loopback against a
  // reader on the same machine (the player), one stream of 4 MiB or more goes 30-80% faster
  // copied, and at eight connections as fast or faster; at 1 MiB and below neither way wins, and
  // the short bodies and ranges that many connections ask for at once keep sendfile, which
  // spares them a copy and a buffer per connection.
  static constexpr std::size_t kLongFileStream = 4u << 20;
  float progressOfWriteReturningTag(long* tagPtr, std::size_t* donePtr,
                                    std::size_t* totalPtr) const;

  // Queues the upgrade to TLS with `tlsSettings` (keys above) behind the reads and writes
  // already queued. Dropped when the socket is not started, is closing, or has had an upgrade
  // queued already. Set-up failures close the socket with kDispatchSocketOtherError and the
  // step's text ("Error in SSLSetCertificate", ...); handshake failures with an error of
  // "kCFStreamErrorDomainSSL" whose code is the TLS status (platform/security/SslStatus.h).
  // The delegate hears `socketDidSecure` once the handshake is done.
  void startTLS(const platform::Dictionary& tlsSettings);

  // --- Queries -----------------------------------------------------------------------------------
  // The IPv4 descriptor answers first when both are open, except for the address data, which
  // the IPv6 one answers then.

  bool isDisconnected() const;
  bool isConnected() const;
  std::optional<std::string> connectedHost() const;
  std::uint16_t connectedPort() const;
  std::optional<std::string> localHost() const;
  std::uint16_t localPort() const;
  std::optional<platform::Bytes> connectedAddress() const;
  std::optional<platform::Bytes> localAddress() const;
  bool isIPv4() const;
  bool isIPv6() const;
  bool isSecure() const;

  // One family each; for code already on the socket queue.
  std::optional<std::string> connectedHost4() const;
  std::optional<std::string> connectedHost6() const;
  std::uint16_t connectedPort4() const;
  std::uint16_t connectedPort6() const;
  std::optional<std::string> localHost4() const;
  std::optional<std::string> localHost6() const;
  std::uint16_t localPort4() const;
  std::uint16_t localPort6() const;

  // --- Running on the socket queue, raw access --------------------------------------------------

  // Marks `socketQueuesPreConfiguredTargetQueue` so that code running on it counts as running on
  // the socket queue. Only for a queue that never runs at the same time as the socket queue (the
  // one it feeds into); our queues do not target one another, so marking any other queue would
  // let its code touch the socket's state unserialised.
  void markSocketQueueTargetQueue(const QueuePtr& socketQueuesPreConfiguredTargetQueue);
  void unmarkSocketQueueTargetQueue(const QueuePtr& socketQueuesPreviouslyConfiguredTargetQueue);
  // Runs `block` on the socket queue and waits for it (inline when already there).
  void performBlock(const std::function<void()>& block);
  // Valid on the socket queue (or a marked queue) only; elsewhere -1, without side effects.
  int socketFD() const;
  int socket4FD() const;
  int socket6FD() const;
  // The stream pair laid over the connected descriptor, made on first ask (the descriptor stays
  // the socket's to close). Null off the socket queue (or a marked queue), on a socket that is
  // not connected, or when the pair cannot be made. Its events are served by the process-wide
  // "DispatchSocket-CFStream" thread, so a caller touches the streams only through that thread.
  std::shared_ptr<platform::SocketStream> readStream();
  std::shared_ptr<platform::SocketStream> writeStream();
  // The TLS engine of a secured (or securing) connection; null off the socket queue or without
  // TLS.
  platform::security::SslContext* sslContext() const;
  // Marks the connection for keeping alive in the background by laying the stream pair over it
  // with the VoIP service type; without the caveat the streams are also opened. False off the
  // socket queue or when the pair cannot be made. (Linux does not suspend the sockets of a
  // process in the background, so the marked pair changes nothing else.)
  bool enableBackgroundingOnSocket();
  bool enableBackgroundingOnSocketWithCaveat();
  bool enableBackgroundingOnSocketWithCaveat(bool caveat);

  // --- Socket addresses and terminators
  // ------------------------------------------------------------

  static std::string hostFromSockaddr4(const sockaddr_in* pSockaddr4);
  static std::string hostFromSockaddr6(const sockaddr_in6* pSockaddr6);
  static std::uint16_t portFromSockaddr4(const sockaddr_in* pSockaddr4);
  static std::uint16_t portFromSockaddr6(const sockaddr_in6* pSockaddr6);
  // True for a whole IPv4 (16 bytes) or IPv6 (28 bytes) socket address, with its host text and
  // port stored through whichever pointers are given; false (nothing stored) otherwise.
  static bool getHost(std::string* hostPtr, std::uint16_t* portPtr, const platform::Bytes& address);
  static std::optional<std::string> hostFromAddress(const platform::Bytes& address);
  static std::uint16_t portFromAddress(const platform::Bytes& address);

  static SocketData CRLFData();
  static SocketData CRData();
  static SocketData LFData();
  static SocketData ZeroData();

  // --- Errors ------------------------------------------------------------------------------------

  static platform::Error badConfigError(const std::string& errMsg);
  static platform::Error badParamError(const std::string& errMsg);
  static platform::Error connectTimeoutError();
  static platform::Error readTimeoutError();
  static platform::Error writeTimeoutError();
  static platform::Error readMaxedOutError();
  static platform::Error connectionClosedError();
  static platform::Error otherError(const std::string& errMsg);
  // POSIX-domain errors for the current errno.
  static platform::Error errnoErrorWithReason(const std::string& reason);
  static platform::Error errnoError();
  // "kCFStreamErrorDomainNetDB" with the resolver's code (an EAI_ value) and text.
  static platform::Error gaiError(int gai_error);
  // "kCFStreamErrorDomainSSL" with a TLS status as code.
  static platform::Error sslError(int ssl_error);

 private:
  DispatchSocket();
  explicit DispatchSocket(QueuePtr sq);
  DispatchSocket(DelegatePtr aDelegate, QueuePtr dq);
  DispatchSocket(DelegatePtr aDelegate, QueuePtr dq, QueuePtr sq);

  // The state bits of `flags`.
  enum Flag : std::uint32_t {
    flagStarted = 1u << 0,            // listening or connected; only a close clears it
    flagConnected = 1u << 1,          // the TCP connection is established
    flagRefuseRequests = 1u << 2,     // a disconnect-after mode: new requests are ignored
    flagReadsHeld = 1u << 3,          // the delegate is asked about a read time-out
    flagWritesHeld = 1u << 4,         // the delegate is asked about a write time-out
    flagCloseAfterReads = 1u << 5,    // close once the read side is empty
    flagCloseAfterWrites = 1u << 6,   // close once the write side is empty
    flagWritable = 1u << 7,           // the descriptor can take bytes now
    flagReadSourcePaused = 1u << 8,   // the read source is suspended
    flagWriteSourcePaused = 1u << 9,  // the write source is suspended
    flagTLSQueued = 1u << 10,         // an upgrade was queued; stays until the close
    flagTLSStartingRead = 1u << 11,   // the TLS marker is the current read
    flagTLSStartingWrite = 1u << 12,  // the TLS marker is the current write
    flagSecure = 1u << 13,            // the handshake is done
    flagReadEOF = 1u << 14,           // the end of the stream was read
    flagReadStreamClosed = 1u << 15,  // half-duplex: the read side is closed, the socket open
    flagAcceptPaused = 1u << 16,      // a listener out of descriptors: the accept sources wait
  };
  // The configuration bits of `config`.
  enum Config : std::uint16_t {
    configIPv4Off = 1u << 0,
    configIPv6Off = 1u << 1,
    configPreferIPv6 = 1u << 2,
    configHalfDuplex = 1u << 3,  // stay open when the peer closes its sending side
    configNoDelayOff = 1u << 4,  // leave Nagle's algorithm on
  };

  // --- Queue rules ---
  bool isOnSocketQueue() const;
  void assertOnSocketQueue() const;
  // Runs `block` inline on the socket queue, or waits for it there.
  void runSync(const std::function<void()>& block) const;
  // Runs `block` inline on the socket queue, or queues it there holding the socket.
  void runAsync(std::function<void()> block);
  // Always queued on the socket queue, behind the reads and writes asked for before.
  void queueBehindRequests(std::function<void()> block);
  template <class F>
  auto syncValue(F&& f) const -> decltype(f()) {
    if (isOnSocketQueue()) return f();
    return socketQueue->syncValue(std::forward<F>(f));
  }
  // A bit of `config`, read synchronously and set (or cleared) asynchronously.
  bool configIsSet(std::uint16_t bit) const;
  void setConfig(std::uint16_t bit, bool on);
  // Queues `call` on the delegate queue when the delegate answers `which`.
  void notifyDelegate(DispatchSocketDelegate::Call which,
                      std::function<void(DispatchSocketDelegate&)> call);
  // The same for the calls every read and write makes, carried by a record of `callPool_`, so
  // they allocate nothing.
  void notifyDelegateOf(DispatchSocketDelegate::Call which, DispatchSocketCallPool::Kind kind,
                        long tag, SocketData data = {}, std::size_t length = 0);

  // A one-shot timer on the socket queue that calls `fire` after `timeout` seconds.
  std::shared_ptr<platform::dispatch::Source> makeTimeoutTimer(double timeout,
                                                               void (DispatchSocket::*fire)());
  // Arms `timer` (made on first use, kept for the connection) to call `fire` after `timeout`
  // seconds. Re-arming moves its deadline, so a read or write costs no timer of its own; the
  // timer holds the socket weakly and never keeps it alive.
  void armTimeoutTimer(std::shared_ptr<platform::dispatch::Source>& timer, double timeout,
                       void (DispatchSocket::*fire)());
  // Disarms it (the read or write it guarded ended), keeping it for the next one.
  static void disarmTimeoutTimer(const std::shared_ptr<platform::dispatch::Source>& timer);
  // Ends it for good (the socket closes).
  static void endTimeoutTimer(std::shared_ptr<platform::dispatch::Source>& timer);
  // Asks the delegate, when it answers `which`, how much longer a held read or write may take;
  // the answer comes back to `extend` on the socket queue. Otherwise `extend(0)` runs at once.
  using ExtensionQuestion = std::function<std::optional<double>(
      DispatchSocketDelegate&, const std::shared_ptr<DispatchSocket>&)>;
  void askForExtension(DispatchSocketDelegate::Call which, ExtensionQuestion ask,
                       void (DispatchSocket::*extend)(double));

  // --- Listening ---
  int createListenSocket(int domain, const platform::Bytes& interfaceAddr, platform::Error* errPtr);
  bool doAccept(int parentSocketFD);
  // The accept back-off: stop the accept sources until a timer fires or an accepted socket of
  // this listener closes (`acceptedSocketDidClose`, from any queue).
  void pauseAccepting();
  void resumeAccepting();
  void acceptedSocketDidClose();
  // Called once an accepted socket's descriptor is closed (from whichever queue closed it).
  static void tellListenerDescriptorClosed(const std::weak_ptr<DispatchSocket>& listener);
  // TCP_NODELAY on a connected descriptor as the configuration says.
  void applyNoDelay(int socketFD) const;
  // On the delegate queue: makes the accepted socket and hands it to the delegate.
  static void handOverAcceptedSocket(const std::shared_ptr<DispatchSocket>& listener,
                                     const std::shared_ptr<DispatchSocketDelegate>& theDelegate,
                                     const QueuePtr& delegateQueue, int childSocketFD, bool isIPv4,
                                     const platform::Bytes& peerAddress, std::uint16_t childConfig);
  // Closes an accepted socket nobody took, without telling anyone.
  void closeUnclaimed();

  // --- Connecting ---
  bool preConnectWithInterface(const std::string& interface, platform::Error* errPtr);
  // On the global queue: resolves `host` and hands the outcome to the socket queue.
  static void lookup(const std::shared_ptr<DispatchSocket>& self, int aConnectIndex,
                     const std::string& host, std::uint16_t port);
  void lookup(int aConnectIndex, const std::optional<platform::Bytes>& address4,
              const std::optional<platform::Bytes>& address6);
  void lookup(int aConnectIndex, const platform::Error& error);
  bool connectWithAddress4(const std::optional<platform::Bytes>& address4,
                           const std::optional<platform::Bytes>& address6, platform::Error* errPtr);
  void watchConnect(int socketFD);
  void connectSourceFired(int aConnectIndex, int socketFD);
  void didConnect(int aConnectIndex);
  void didNotConnect(int aConnectIndex, const platform::Error& error);
  void startConnectTimeout(double timeout);
  void endConnectTimeout();
  void doConnectTimeout();

  // --- Closing ---
  void maybeClose();
  void closeWithError(const std::optional<platform::Error>& error);
  // Abandons a pending connect: its source stops and closes the descriptor.
  void releaseConnectingDescriptor();

  // --- Sources ---
  void setupReadAndWriteSourcesForNewlyConnectedSocket(int socketFD);
  void suspendReadSource();
  void resumeReadSource();
  void suspendWriteSource();
  void resumeWriteSource();

  // --- Reading ---
  void queueRead(std::shared_ptr<DispatchReadPacket> packet);
  void maybeDequeueRead();
  void doReadData();
  // A plain read is waiting and may go ahead: it can read without asking what is readable.
  bool readCanGoWithoutMeasure() const;
  // What such a read asks of the descriptor: the rest of a read of known length (within a
  // bound), else what the read-ahead buffer holds without growing.
  std::size_t optimisticReadLength() const;
  void doReadEOF();
  // The read or write source's handler took the descriptor to "would block": the source need
  // not look at it again when the handler returns.
  void readSourceDrained();
  void writeSourceDrained();
  void completeCurrentRead();
  void endCurrentRead();
  void setupReadTimerWithTimeout(double timeout);
  void doReadTimeout();
  void doReadTimeoutWithExtension(double timeoutExtension);

  // --- Writing ---
  void enqueueWrite(std::shared_ptr<DispatchWritePacket> packet);
  void maybeDequeueWrite();
  void doWriteData();
  // One write pass over what is left of `packet`, without and with TLS: the bytes it took,
  // whether the socket would block, and an error that ends the socket.
  void writePlainly(DispatchWritePacket& packet, std::size_t* bytesWritten, bool* waiting,
                    std::optional<platform::Error>* error);
  void writePacketSecurely(DispatchWritePacket& packet, std::size_t* bytesWritten, bool* waiting,
                           std::optional<platform::Error>* error);
  // The write pass's step through the TLS engine: what it took of `bytesToWrite` bytes, whether
  // it must wait, or the error that ends the socket.
  void writeSecurely(const std::uint8_t* buffer, std::size_t bytesToWrite,
                     std::size_t* bytesWritten, bool* waiting,
                     std::optional<platform::Error>* error);
  void completeCurrentWrite();
  void endCurrentWrite();
  void setupWriteTimerWithTimeout(double timeout);
  void doWriteTimeout();
  void doWriteTimeoutWithExtension(double timeoutExtension);

  // --- Stream pair (DispatchSocketStreams.cpp) ---
  // The stream thread is started once and lives as long as the process; its run loop serves
  // the stream events of every socket.
  static void startCFStreamThreadIfNeeded();
  static std::shared_ptr<platform::RunLoop> cfstreamRunLoop();
  // On the stream thread only: (un)schedule the socket's streams on its run loop.
  static void scheduleCFStreams(DispatchSocket* asyncSocket);
  static void unscheduleCFStreams(DispatchSocket* asyncSocket);
  bool createReadAndWriteStream();
  bool registerForStreamCallbacksIncludingReadWrite(bool includeReadWrite);
  bool addStreamsToRunLoop();
  void removeStreamsFromRunLoop();
  bool openStreams();
  // On closing: unschedules, closes and lets go of the pair.
  void closeReadAndWriteStreams();
  // On the stream thread: hand an event over to the socket queue.
  void readStreamClientCallback(const std::shared_ptr<platform::SocketStream>& stream,
                                unsigned type);
  void writeStreamClientCallback(const std::shared_ptr<platform::SocketStream>& stream,
                                 unsigned type);
  // An error or end event: closes the socket while the stream is still its own.
  void handOverStreamEnd(const std::shared_ptr<platform::SocketStream>& stream, unsigned type);

  // --- TLS ---
  void maybeStartTLS();
  void ssl_startTLS();
  void ssl_continueSSLHandshake();
  // The handshake's own time limit: the first positive time-out among the read and the write
  // queued behind the upgrade, or kDefaultHandshakeTimeout; it ends as a TLS time-out. A first
  // read or write queued while the handshake runs shortens the limit to its own time-out when
  // that ends sooner, as its own timer would have run from then.
  double handshakeTimeout() const;
  void startHandshakeTimer(double timeout);
  void shortenHandshakeTimer(double timeout);
  void doHandshakeTimeout();
  void endHandshakeTimer();
  // After a flush met a failure of the session (not a close), closes with it; true when it did.
  bool closeOnFlushedSSLFailure();
  // The engine's I/O functions: encrypted bytes from and to the descriptor.
  int sslReadWithBuffer(void* buffer, std::size_t* bufferLength);
  int sslWriteWithBuffer(const void* buffer, std::size_t* bufferLength);
  // Moves decrypted bytes into the read-ahead buffer, where reads see them.
  void flushSSLBuffers();
  // Ends the TLS session and forgets its state (part of a close).
  void closeSSL();

  // --- Address queries of one descriptor (nothing when the system cannot tell) ---
  static std::optional<std::string> connectedHostFromSocket4(int socketFD);
  static std::optional<std::string> connectedHostFromSocket6(int socketFD);
  static std::uint16_t connectedPortFromSocket4(int socketFD);
  static std::uint16_t connectedPortFromSocket6(int socketFD);
  static std::optional<std::string> localHostFromSocket4(int socketFD);
  static std::optional<std::string> localHostFromSocket6(int socketFD);
  static std::uint16_t localPortFromSocket4(int socketFD);
  static std::uint16_t localPortFromSocket6(int socketFD);

  // Set at creation, read-only after.
  QueuePtr socketQueue;
  // Its own address is the queue-specific key that marks the socket queue as this socket's.
  void* IsOnSocketQueueOrTargetQueueKey = nullptr;

  // Owned by the socket queue: read and written only there.
  std::uint32_t flags = 0;
  std::uint16_t config = 0;
  DelegatePtr _delegate;
  QueuePtr _delegateQueue;
  int _socket4FD = -1;
  int _socket6FD = -1;
  std::shared_ptr<platform::dispatch::Source> accept4Source;
  std::shared_ptr<platform::dispatch::Source> accept6Source;
  // A listener's back-off timer while accepting is paused; an accepted socket's listener.
  std::shared_ptr<platform::dispatch::Source> acceptResumeTimer_;
  std::weak_ptr<DispatchSocket> listener_;
  std::shared_ptr<platform::dispatch::Source> readSource;
  std::shared_ptr<platform::dispatch::Source> writeSource;
  std::shared_ptr<platform::dispatch::Source> readTimer;
  std::shared_ptr<platform::dispatch::Source> writeTimer;
  std::shared_ptr<platform::dispatch::Source> handshakeTimer_;
  platform::MonoTime handshakeDeadline_{};
  // Each queue holds read (or write) packets and at most one TLS marker, the same on both.
  std::deque<
      std::variant<std::shared_ptr<DispatchReadPacket>, std::shared_ptr<DispatchSpecialPacket>>>
      readQueue;
  std::deque<
      std::variant<std::shared_ptr<DispatchWritePacket>, std::shared_ptr<DispatchSpecialPacket>>>
      writeQueue;
  std::shared_ptr<DispatchReadPacket> currentRead;
  std::shared_ptr<DispatchWritePacket> currentWrite;
  // The TLS marker once a side has dequeued it (flagTLSStartingRead/Write say which), until the
  // handshake ends.
  std::shared_ptr<DispatchSpecialPacket> currentTLSPacket_;
  std::size_t socketFDBytesAvailable = 0;
  DispatchSocketPreBuffer preBuffer{4096};
  std::shared_ptr<void> _userData;
  // Any thread (it guards itself): the records of the frequent delegate calls.
  DispatchSocketCallPool callPool_;
  // Connecting: the attempt's generation (results of older ones are dropped), its timer, the
  // local addresses to bind to, and the write source that waits for the connect's outcome (its
  // cancel handler closes the descriptor unless `connectHandedOver_` says it went on to the
  // connected socket's sources).
  int connectIndex = 0;
  std::shared_ptr<platform::dispatch::Source> connectTimer;
  std::optional<platform::Bytes> connectInterface4;
  std::optional<platform::Bytes> connectInterface6;
  std::shared_ptr<platform::dispatch::Source> connectSource_;
  std::shared_ptr<bool> connectHandedOver_;
  // The stream pair (or none) and whether it is scheduled on the stream thread.
  std::shared_ptr<platform::SocketStream> _readStream;
  std::shared_ptr<platform::SocketStream> _writeStream;
  bool streamsScheduled_ = false;

  // TLS: the engine, the encrypted bytes read ahead of its requests, the size of the chunk it
  // took while answering would-block (counted as written only after a flush), and the status
  // the session ended with.
  std::unique_ptr<platform::security::SslContext> _sslContext;
  std::unique_ptr<DispatchSocketPreBuffer> sslPreBuffer;
  std::size_t sslWriteCachedLength = 0;
  // The file bytes of a write that copies them (under TLS, or a long stretch) pass through here;
  // kept, so no pass allocates.
  std::vector<std::uint8_t> fileBuffer_;
  int sslErrCode = 0;
};
