#pragma once
// ScriptedServer: a small HTTP/1.1 server on 127.0.0.1 (port 0) for tests, on raw sockets so
// it can also misbehave. A handler decides each reply: any status, headers and body, or a
// misbehaviour (stall before answering, stall after the head, close in the middle of the body,
// or send the body only as fast as the test allows, byte by byte).
// Replies can be held behind a gate, and the server counts the requests it handles at once, so
// a test can see how many requests a client runs in parallel.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/foundation/Mutex.h"

namespace testsupport {

struct ScriptedRequest {
  std::string method;
  std::string target;  // path and query, as sent
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  // The value of a header (any case), absent when not sent.
  std::optional<std::string> header(const std::string& name) const;
  std::string path() const { return target.substr(0, target.find('?')); }
  std::string query() const;
};

struct ScriptedReply {
  // Paced: the head at once, then body bytes only as `allowBodyBytes` lets them go.
  // CloseBeforeHead: the connection is closed without any answer.
  enum class Behaviour {
    Normal,
    StallBeforeHead,
    StallAfterHead,
    CloseMidBody,
    Paced,
    CloseBeforeHead
  };
  int status = 200;
  std::string reason = "OK";
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  Behaviour behaviour = Behaviour::Normal;
  // Wait behind the server's gate (`holdReplies`) before answering.
  bool gated = false;

  static ScriptedReply text(int status, std::string body,
                            std::string contentType = "text/plain; charset=utf-8");
  // `body` honouring a "bytes=N-" or "bytes=N-M" Range of `request` (206), or whole (200).
  static ScriptedReply ranged(const ScriptedRequest& request, const std::string& body);
  // `text` coded as HTTP's "gzip" or "deflate" (zlib's stream) content coding.
  static std::string encoded(const std::string& text, const std::string& coding);
};

class ScriptedServer {
 public:
  using Handler = std::function<ScriptedReply(const ScriptedRequest&)>;

  explicit ScriptedServer(Handler handler);
  // Releases every stalled or held reply, closes every connection and joins all threads.
  ~ScriptedServer();

  int port() const { return port_; }
  std::string url(const std::string& path = "/") const;

  // Gated replies wait until `releaseReplies()`.
  void releaseReplies() EXCLUDES(mutex_);
  // Lets `n` more body bytes of paced replies go out.
  void allowBodyBytes(std::size_t n) EXCLUDES(mutex_);

  std::vector<ScriptedRequest> requests() const EXCLUDES(mutex_);
  std::size_t requestCount() const EXCLUDES(mutex_);
  // Waits (real time, up to `timeoutSeconds`) until `n` requests have arrived.
  bool waitForRequests(std::size_t n, double timeoutSeconds = 10) EXCLUDES(mutex_);
  // Waits until `n` requests are being handled at the same time.
  bool waitForInFlight(std::size_t n, double timeoutSeconds = 10) EXCLUDES(mutex_);
  // Waits until `n` replies have been written out completely (or cut as scripted).
  bool waitForReplies(std::size_t n, double timeoutSeconds = 10) EXCLUDES(mutex_);
  std::size_t maxInFlight() const EXCLUDES(mutex_);
  std::size_t inFlight() const EXCLUDES(mutex_);
  std::size_t repliesDone() const EXCLUDES(mutex_);
  // Body bytes written so far over all replies.
  std::size_t bodyBytesSent() const EXCLUDES(mutex_);
  // Waits until at least `bytes` body bytes are written, or the timeout passes.
  bool waitForBodyBytes(std::size_t bytes, double timeoutSeconds) EXCLUDES(mutex_);

 private:
  void acceptLoop() EXCLUDES(mutex_);
  void serve(int fd) EXCLUDES(mutex_);
  bool readRequest(int fd, std::string& buffer, ScriptedRequest& request);
  bool writeAll(int fd, const char* data, std::size_t length, bool countBody) EXCLUDES(mutex_);
  bool writePaced(int fd, const std::string& body) EXCLUDES(mutex_);
  void stallUntilStopped() EXCLUDES(mutex_);

  // Set before start, read-only after.
  const Handler handler_;
  int listenFd_ = -1;
  int port_ = 0;
  std::thread acceptThread_;

  // Guarded by mutex_.
  mutable platform::Mutex mutex_;
  std::condition_variable cv_;
  bool stopping_ GUARDED_BY(mutex_) = false;
  bool released_ GUARDED_BY(mutex_) = false;
  std::vector<std::thread> threads_ GUARDED_BY(mutex_);
  std::vector<int> clients_ GUARDED_BY(mutex_);
  std::vector<ScriptedRequest> requests_ GUARDED_BY(mutex_);
  std::size_t inFlight_ GUARDED_BY(mutex_) = 0;
  std::size_t maxInFlight_ GUARDED_BY(mutex_) = 0;
  std::size_t repliesDone_ GUARDED_BY(mutex_) = 0;
  std::size_t bodyBytes_ GUARDED_BY(mutex_) = 0;
  std::size_t pacedAllowance_ GUARDED_BY(mutex_) = 0;
};

}  // namespace testsupport
