#pragma once
// ScriptedServer: a small HTTP/1.1 server on 127.0.0.1 (port 0) for tests, on raw sockets so
// it can also misbehave. A handler decides each reply: any status, headers and body, or a
// misbehaviour (stall before answering, stall after the head, close in the middle of the body).
// Replies can be held behind a gate, and the server counts the requests it handles at once, so
// a test can see how many requests a client runs in parallel.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

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
  enum class Behaviour { Normal, StallBeforeHead, StallAfterHead, CloseMidBody };
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
  void releaseReplies();

  std::vector<ScriptedRequest> requests() const;
  std::size_t requestCount() const;
  // Waits (real time, up to `timeoutSeconds`) until `n` requests have arrived.
  bool waitForRequests(std::size_t n, double timeoutSeconds = 10);
  // Waits until `n` requests are being handled at the same time.
  bool waitForInFlight(std::size_t n, double timeoutSeconds = 10);
  // Waits until `n` replies have been written out completely (or cut as scripted).
  bool waitForReplies(std::size_t n, double timeoutSeconds = 10);
  std::size_t maxInFlight() const;
  std::size_t inFlight() const;
  std::size_t repliesDone() const;
  // Body bytes written so far over all replies.
  std::size_t bodyBytesSent() const;
  // Waits until at least `bytes` body bytes are written, or the timeout passes.
  bool waitForBodyBytes(std::size_t bytes, double timeoutSeconds);

 private:
  void acceptLoop();
  void serve(int fd);
  bool readRequest(int fd, std::string& buffer, ScriptedRequest& request);
  bool writeAll(int fd, const char* data, std::size_t length, bool countBody);
  void stallUntilStopped();

  Handler handler_;
  int listenFd_ = -1;
  int port_ = 0;
  std::thread acceptThread_;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool stopping_ = false;
  bool released_ = false;
  std::vector<std::thread> threads_;
  std::vector<int> clients_;
  std::vector<ScriptedRequest> requests_;
  std::size_t inFlight_ = 0;
  std::size_t maxInFlight_ = 0;
  std::size_t repliesDone_ = 0;
  std::size_t bodyBytes_ = 0;
};

}  // namespace testsupport
