#pragma once
// SocketStream: one half (read or write) of a pair of byte streams over one TCP connection,
// made over a connected descriptor or to a host and port. The halves share the descriptor;
// each has its own status, client and run-loop schedule, and reports to its client through
// events on the run loops it is scheduled on, in the modes it is scheduled in:
//   kOpenCompleted     the connection is up (for a pair over a descriptor: at the first pass
//                      after `open`),
//   kHasBytesAvailable bytes (or the end) can be read; not sent again until the client reads,
//   kCanAcceptBytes    a write will take bytes; not sent again until the client writes,
//   kErrorOccurred     the connection failed; `error()` says why,
//   kEndEncountered    the peer closed its side and every byte has been read.
// `read` and `write` block until at least one byte moves (as the platform's streams do); after
// the matching event they do not wait.
//
// A pair is used on one thread, the thread of the run loop it is scheduled on; nothing locks.
// The descriptor is closed when the last half is gone and the
// kStreamPropertyShouldCloseNativeSocket property is true on either half; otherwise it stays
// the caller's. The end of the stream found by `read` and a failed `read` or `write` are also
// reported as events, from the run loop.
//
// TLS: setting kStreamPropertySSLSettings on an open pair (on either half; it applies to both)
// starts a handshake over the connection. Until it completes neither half sends events; then
// each half reports as before, and `read`/`write` carry plain bytes through the TLS session. A
// failed handshake is an error event on both halves (domain SSL, the engine's status). The
// client side verifies the peer against the system's trust store and its host name unless the
// settings relax it.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Value.h"
#include "platform/net/StreamSSLSettings.h"

namespace platform {

enum class StreamStatus {
  NotOpen = 0,
  Opening = 1,
  Open = 2,
  Reading = 3,
  Writing = 4,
  AtEnd = 5,
  Closed = 6,
  Error = 7,
};

// Where a stream error's code comes from.
enum class StreamErrorDomain { None = 0, POSIX, NetDB, SSL };

struct StreamError {
  StreamErrorDomain domain = StreamErrorDomain::None;
  int code = 0;
  bool operator==(const StreamError&) const = default;
};

inline constexpr unsigned kStreamEventNone = 0;
inline constexpr unsigned kStreamEventOpenCompleted = 1;
inline constexpr unsigned kStreamEventHasBytesAvailable = 2;
inline constexpr unsigned kStreamEventCanAcceptBytes = 4;
inline constexpr unsigned kStreamEventErrorOccurred = 8;
inline constexpr unsigned kStreamEventEndEncountered = 16;

// A bool: close the descriptor when the pair is done with it.
inline constexpr const char* kStreamPropertyShouldCloseNativeSocket =
    "kCFStreamPropertyShouldCloseNativeSocket";
// Read only: the descriptor as the bytes of an int (absent before the connection is up).
inline constexpr const char* kStreamPropertySocketNativeHandle =
    "kCFStreamPropertySocketNativeHandle";
// The traffic class of the connection: a text, kept and answered back. Only the VoIP class
// (which asks the platform to keep the socket alive in the background) is known; Linux keeps
// every socket of a background process alive, so taking it changes nothing else.
inline constexpr const char* kStreamPropertyNetworkServiceType = "kCFStreamNetworkServiceType";
inline constexpr const char* kStreamNetworkServiceTypeVoIP = "kCFStreamNetworkServiceTypeVoIP";
// A dictionary of TLS settings (keys in StreamSSLSettings.h), taken once per pair.
inline constexpr const char* kStreamPropertySSLSettings = "kCFStreamPropertySSLSettings";

class SocketStream : public std::enable_shared_from_this<SocketStream> {
 public:
  using ReadStream = std::shared_ptr<SocketStream>;
  using WriteStream = std::shared_ptr<SocketStream>;
  using Client = std::function<void(SocketStream& stream, unsigned event)>;

  // A pair over a connected (or connecting) descriptor. The descriptor stays the caller's
  // unless kStreamPropertyShouldCloseNativeSocket is set.
  static std::pair<ReadStream, WriteStream> createPairWithSocket(int descriptor);
  // A pair that connects to `host` (a name or an address literal) and `port` when opened.
  static std::pair<ReadStream, WriteStream> createPairWithHost(const std::string& host,
                                                               std::uint16_t port);

  ~SocketStream();
  SocketStream(const SocketStream&) = delete;
  SocketStream& operator=(const SocketStream&) = delete;

  bool isReadStream() const { return reading_; }
  StreamStatus status();
  // The error that put the stream in StreamStatus::Error (domain None otherwise).
  StreamError error() const { return error_; }

  // Starts the connection (or, over a descriptor, takes it as it is). False when the stream was
  // already opened or the connection cannot even be started (the error says why).
  bool open();
  // Reads up to `length` bytes: the count, 0 at the end, -1 on an error (status Error).
  ssize_t read(std::uint8_t* buffer, std::size_t length);
  // Writes up to `length` bytes: the count taken, -1 on an error.
  ssize_t write(const std::uint8_t* buffer, std::size_t length);
  // Whether `read` would not wait / `write` would not wait.
  bool hasBytesAvailable();
  bool canAcceptBytes();
  // Closes this half: no more events; the descriptor goes with the last half (see above).
  void close();

  // The events the client hears (a mask of kStreamEvent...), or none with a null client.
  bool setClient(unsigned events, Client client);
  void scheduleInRunLoop(const std::shared_ptr<RunLoop>& loop, const std::string& mode);
  void unscheduleFromRunLoop(const std::shared_ptr<RunLoop>& loop, const std::string& mode);

  // Bytes the caller took from the connection ahead of need that belong to the TLS session it
  // is about to start (the peer may begin its handshake right behind the last bytes in the
  // clear): the session reads them before anything from the descriptor. Given before
  // kStreamPropertySSLSettings is set, on either half.
  void giveBackForTLS(const Bytes& bytes);

  std::optional<Value> property(const std::string& name) const;
  // False for a property the stream does not take.
  bool setProperty(const std::string& name, const Value& value);

 private:
  struct Connection;
  SocketStream(std::shared_ptr<Connection> connection, bool reading);
  static std::pair<ReadStream, WriteStream> makePair(std::shared_ptr<Connection> connection);

  // The connection's progress as this half sees it; moves Opening to Open or Error.
  void checkOpening();
  // TLS: starts the session with `settings`, runs one handshake step, moves decrypted bytes in.
  bool startTLS(const Dictionary& settings);
  void continueHandshake();
  int fillPlain();
  // Sends "has bytes" later if decrypted bytes wait that no readiness of the descriptor will
  // announce.
  void postBytesCheck();
  void fail(StreamError error);
  void updateInterest();
  void onReady(unsigned events);
  void notify(unsigned event);
  // Sends `event` to the client from the run loop the stream is scheduled on.
  void postEvent(unsigned event);

  // Set before start, read-only after.
  const std::shared_ptr<Connection> connection_;
  const bool reading_;

  // Fails an assertion unless called on the thread of a run loop the stream is scheduled on
  // (once it is scheduled on one): every public entry point but the schedule calls begins so.
  void assertOnOwner(const char* operation) const;

  // Owned by the thread of the run loop the stream is scheduled on.
  StreamStatus status_ = StreamStatus::NotOpen;
  StreamError error_;
  unsigned clientEvents_ = kStreamEventNone;
  std::shared_ptr<Client> client_;
  // An event of this kind was sent and the client has not read or written since.
  bool signalled_ = false;
  std::optional<std::string> serviceType_;
  bool openReported_ = false;
  std::shared_ptr<RunLoopSource> source_;
  std::vector<std::pair<std::weak_ptr<RunLoop>, std::string>> schedule_;
};

}  // namespace platform
