#pragma once
// RunLoopSocket: a TCP socket that lives on one run loop. It listens and accepts, or connects
// out, and carries its traffic through a SocketStream pair on the connected descriptor. Reads
// (whatever is available, an exact length, or up to a terminator; into its own buffer or the
// caller's) and writes are queued and each finished in order and reported once with the caller's
// tag; time-outs can be extended by the delegate; closing can wait for the queued work; bytes no
// read took can be taken back while closing with an error.
//
// Threads: everything happens on the thread of the run loop the socket is scheduled on (the
// calling thread's when it starts); `checkForThreadSafety` raises when called elsewhere. Every
// event (descriptor, stream, timer, deferred step) is a run-loop callback in the socket's modes,
// and the delegate is called synchronously from it. The socket holds its delegate strongly.
// Misuse raises platform::Exception named "RunLoopSocketException".
//
// Descriptor fields hold -1 for "none": 0 is a valid descriptor (a process started without
// standard input hands it out).

#include <netinet/in.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/SharedObject.h"
#include "platform/foundation/Value.h"
#include "platform/net/SocketStream.h"
#include "sockets/dispatch/SocketData.h"
#include "sockets/runloop/RunLoopReadPacket.h"
#include "sockets/runloop/RunLoopSocketDelegate.h"
#include "sockets/runloop/RunLoopSpecialPacket.h"
#include "sockets/runloop/RunLoopWritePacket.h"

inline constexpr const char* kRunLoopSocketErrorDomain = "RunLoopSocketErrorDomain";
inline constexpr const char* kRunLoopSocketException = "RunLoopSocketException";

class RunLoopSocket : public std::enable_shared_from_this<RunLoopSocket> {
  CH_SHARED_OBJECT(RunLoopSocket)

 public:
  enum ErrorCode {
    kCFSocketError = -1,
    kNoError = 0,
    kCanceledError = 1,
    kConnectTimeoutError = 2,
    kReadMaxedOutError = 3,
    kReadTimeoutError = 4,
    kWriteTimeoutError = 5,
  };

  ~RunLoopSocket();
  RunLoopSocket(const RunLoopSocket&) = delete;
  RunLoopSocket& operator=(const RunLoopSocket&) = delete;

  // Plain accessors.
  const std::shared_ptr<RunLoopSocketDelegate>& delegate() const { return theDelegate; }
  void setDelegate(std::shared_ptr<RunLoopSocketDelegate> delegate);
  bool canSafelySetDelegate() const;
  long userData() const { return theUserData; }
  void setUserData(long value) { theUserData = value; }
  // The listening or connecting descriptor (IPv4 first), -1 for none.
  int getCFSocket() const;
  const std::shared_ptr<platform::SocketStream>& getCFReadStream() const { return theReadStream; }
  const std::shared_ptr<platform::SocketStream>& getCFWriteStream() const { return theWriteStream; }
  void enablePreBuffering();
  void checkForThreadSafety() const;
  bool isDisconnected() const;
  bool isConnected();
  bool isIPv4() const;
  bool isIPv6() const;

  // Run loop and modes. The changes raise AssertionFailure unless called on the socket's run
  // loop (or before it has one).
  const std::vector<std::string>& runLoopModes() const { return theRunLoopModes; }
  bool moveToRunLoop(const std::shared_ptr<platform::RunLoop>& runLoop);
  bool setRunLoopModes(const std::vector<std::string>& modes);
  bool addRunLoopMode(const std::string& mode);
  bool removeRunLoopMode(const std::string& mode);

  // Accepting: `interface` empty = any address, "localhost" or "loopback" = the loopback
  // addresses, otherwise a name or address literal. Port 0 lets the system choose (one port for
  // both families).
  bool acceptOnPort(std::uint16_t port, platform::Error* error = nullptr);
  bool acceptOnInterface(const std::string& interface, std::uint16_t port,
                         platform::Error* error = nullptr);
  // Connecting; a negative timeout means none.
  bool connectToHost(const std::string& host, std::uint16_t port, platform::Error* error = nullptr);
  bool connectToHost(const std::string& host, std::uint16_t port, double timeout,
                     platform::Error* error);
  bool connectToAddress(const platform::Bytes& remoteAddr, platform::Error* error = nullptr);
  bool connectToAddress(const platform::Bytes& remoteAddr, double timeout, platform::Error* error);
  bool connectToAddress(const platform::Bytes& remoteAddr, const platform::Bytes* interfaceAddr,
                        double timeout, platform::Error* error);

  // Reads: queued and finished in order; a request that fails its checks is ignored. A null
  // buffer counts as length 0.
  void readDataWithTimeout(double timeout, long tag);
  void readDataWithTimeout(double timeout, std::shared_ptr<platform::Bytes> buffer,
                           std::size_t offset, long tag);
  void readDataWithTimeout(double timeout, std::shared_ptr<platform::Bytes> buffer,
                           std::size_t offset, std::size_t maxLength, long tag);
  void readDataToLength(std::size_t length, double timeout, long tag);
  void readDataToLength(std::size_t length, double timeout, std::shared_ptr<platform::Bytes> buffer,
                        std::size_t offset, long tag);
  void readDataToData(const platform::Bytes& data, double timeout, long tag);
  void readDataToData(const platform::Bytes& data, double timeout, std::size_t maxLength, long tag);
  void readDataToData(const platform::Bytes& data, double timeout,
                      std::shared_ptr<platform::Bytes> buffer, std::size_t offset, long tag);
  void readDataToData(const platform::Bytes& data, double timeout,
                      std::shared_ptr<platform::Bytes> buffer, std::size_t offset,
                      std::size_t maxLength, long tag);
  void writeData(const SocketData& data, double timeout, long tag);
  // Upgrades the connection with these settings once both queues reach this point.
  void startTLS(const std::optional<platform::Dictionary>& tlsSettings);
  // Progress of the current read or write: done over total (1 for a read without a length);
  // NaN with zero outputs when there is none.
  float progressOfReadReturningTag(long* tag, std::size_t* done, std::size_t* total) const;
  float progressOfWriteReturningTag(long* tag, std::size_t* done, std::size_t* total) const;

  void disconnect();
  void disconnectAfterReading();
  void disconnectAfterWriting();
  void disconnectAfterReadingAndWriting();
  // While closing with an error: the bytes no read took (an unfinished read's first), followed
  // by whatever the stream still holds; null otherwise.
  std::shared_ptr<platform::Bytes> unreadData();

  // Addresses (empty or 0 when there is nothing to ask).
  std::string connectedHost() const;
  std::uint16_t connectedPort() const;
  std::string localHost() const;
  std::uint16_t localPort() const;
  std::string connectedHost4() const;
  std::string connectedHost6() const;
  std::uint16_t connectedPort4() const;
  std::uint16_t connectedPort6() const;
  std::string localHost4() const;
  std::string localHost6() const;
  std::uint16_t localPort4() const;
  std::uint16_t localPort6() const;
  std::optional<platform::Bytes> connectedAddress() const;
  std::optional<platform::Bytes> localAddress() const;
  std::string description();

  static std::string hostFromAddress4(const sockaddr_in& address);
  static std::string hostFromAddress6(const sockaddr_in6& address);
  static std::uint16_t portFromAddress4(const sockaddr_in& address);
  static std::uint16_t portFromAddress6(const sockaddr_in6& address);
  static platform::Bytes CRLFData();
  static platform::Bytes CRData();
  static platform::Bytes LFData();
  static platform::Bytes ZeroData();

 protected:
  explicit RunLoopSocket(std::shared_ptr<RunLoopSocketDelegate> delegate = nullptr,
                         long userData = 0);

 private:
  enum Flag : std::uint16_t {
    kEnablePreBuffering = 0x0001,
    kDidStartConnect = 0x0002,
    kDidCompleteOpenForRead = 0x0004,
    kDidCompleteOpenForWrite = 0x0008,
    kStartingReadTLS = 0x0010,
    kStartingWriteTLS = 0x0020,
    kForbidReadsWrites = 0x0040,
    kDisconnectAfterReads = 0x0080,
    kDisconnectAfterWrites = 0x0100,
    kClosingWithError = 0x0200,
    kDequeueReadScheduled = 0x0400,
    kDequeueWriteScheduled = 0x0800,
    kSocketCanAcceptBytes = 0x1000,
    kSocketHasBytesAvailable = 0x2000,
  };
  // A queued read or write, or the TLS marker.
  template <typename Packet>
  struct Item {
    std::shared_ptr<Packet> packet;
    std::shared_ptr<RunLoopSpecialPacket> tls;
    explicit operator bool() const { return packet || tls; }
  };
  using ReadItem = Item<RunLoopReadPacket>;
  using WriteItem = Item<RunLoopWritePacket>;

  std::shared_ptr<RunLoopSocket> self() { return shared_from_this(); }
  void raise(const char* reason) const;
  // The descriptor wrapped for listening or connecting, with its source.
  bool createListener(int family, int& fd);
  // acceptOnInterface with the number of times a system-chosen port may still be chosen again.
  bool listenOnInterface(const std::string& interface, std::uint16_t port, platform::Error* error,
                         int portChoicesLeft);
  void attachSources(const std::shared_ptr<platform::RunLoop>& runLoop);
  void closeListeners();
  void doAcceptFromSocket(int listener);
  void doConnectResult(int fd);
  bool createStreamsFromNative(int fd, platform::Error* error);
  bool attachStreamsToRunLoop(const std::shared_ptr<platform::RunLoop>& runLoop,
                              platform::Error* error);
  bool openStreams(platform::Error* error);
  void doStreamOpen();
  void doReadStreamEvent(unsigned event);
  void doWriteStreamEvent(unsigned event);
  std::optional<platform::Error> streamError() const;
  static std::optional<platform::Error> errorFromStream(const platform::StreamError& error);
  void startConnectTimeout(double timeout);
  void endConnectTimeout();
  void doConnectTimeout();

  // Run-loop plumbing over every mode of the socket.
  void runLoopAddSource(const std::shared_ptr<platform::RunLoopSource>& source);
  void runLoopRemoveSource(const std::shared_ptr<platform::RunLoopSource>& source);
  void runLoopAddTimer(const std::shared_ptr<platform::Timer>& timer);
  void runLoopRemoveTimer(const std::shared_ptr<platform::Timer>& timer);
  void runLoopUnscheduleReadStream();
  void runLoopUnscheduleWriteStream();
  void requireRunLoop(const char* text) const;
  // Takes timers, sources and streams out of the run loop (true when there were streams), and
  // puts them back in the current loop and modes.
  bool detachFromRunLoop();
  bool reattachToRunLoop(bool haveStreams, const std::shared_ptr<platform::RunLoop>& streamRunLoop);
  // The listening or connecting descriptor of a family, else its connected one.
  int descriptorOf(bool four) const;
  void afterRunLoopChange();
  void performDeferred(void (RunLoopSocket::*step)());

  // Queues and closing (RunLoopSocketReading.cpp).
  void queueRead(std::shared_ptr<RunLoopReadPacket> packet);
  void scheduleDequeueRead();
  void scheduleDequeueWrite();
  void maybeDequeueRead();
  void maybeDequeueWrite();
  bool hasBytesAvailable();
  ssize_t readIntoBuffer(std::uint8_t* buffer, std::size_t length);
  void doBytesAvailable();
  void completeCurrentRead();
  void endCurrentRead();
  void doSendBytes();
  void completeCurrentWrite();
  void endCurrentWrite();
  void doReadTimeout();
  void doWriteTimeout();
  void maybeStartTLS();
  void doTLSCompletion();
  void maybeScheduleDisconnect();
  void emptyQueues();
  void closeWithError(const std::optional<platform::Error>& error);
  void close();
  platform::Error errorWithCode(ErrorCode code) const;

  // Owned by the socket's run-loop thread.
  int theNativeSocket4 = -1;
  int theNativeSocket6 = -1;
  int theSocket4 = -1;
  int theSocket6 = -1;
  std::shared_ptr<platform::SocketStream> theReadStream;
  std::shared_ptr<platform::SocketStream> theWriteStream;
  std::shared_ptr<platform::RunLoopSource> theSource4;
  std::shared_ptr<platform::RunLoopSource> theSource6;
  std::shared_ptr<platform::RunLoop> theRunLoop;
  std::vector<std::string> theRunLoopModes;
  std::shared_ptr<platform::Timer> theConnectTimer;
  std::deque<ReadItem> theReadQueue;
  ReadItem theCurrentRead;
  std::shared_ptr<platform::Timer> theReadTimer;
  platform::Bytes partialReadBuffer;
  std::deque<WriteItem> theWriteQueue;
  WriteItem theCurrentWrite;
  std::shared_ptr<platform::Timer> theWriteTimer;
  std::shared_ptr<RunLoopSocketDelegate> theDelegate;
  std::uint16_t theFlags;
  long theUserData;
  // Whether theSocket4/6 is a listener (true) or a connecting socket.
  bool listening_ = false;
};
