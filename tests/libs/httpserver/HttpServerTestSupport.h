#pragma once
// Shared pieces of the media server tests: a raw-byte HTTP client on loopback that sends exactly
// what it is given and reads replies byte for byte, a served folder in a test home, and a way to
// run curl against the server.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "httpserver/core/HTTPServer.h"

namespace httpservertest {

struct Reply {
  std::string statusLine;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
  int status() const;
  std::optional<std::string> header(const std::string& name) const;
};

// One TCP connection to 127.0.0.1 (or ::1) with blocking reads that give up after 20 s.
class RawClient {
 public:
  explicit RawClient(std::uint16_t port, bool ipv6 = false);
  ~RawClient();
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool connected() const { return fd_ >= 0; }
  void send(const std::string& bytes);
  // One reply: the head, then "Content-Length" bytes of body unless `headOnly` (a HEAD).
  // Absent when the connection ends first.
  std::optional<Reply> readReply(bool headOnly = false);
  // Exactly `length` bytes; absent when the connection ends first.
  std::optional<std::string> readBytes(std::size_t length);
  // Every byte until the server closes the connection (or 20 s pass).
  std::string readToEnd();
  // True when the server has closed the connection with nothing more to read.
  bool closedByServer();

 private:
  bool fill();
  int fd_ = -1;
  std::string buffered_;
};

// A server on 127.0.0.1 with a system-chosen port, serving `root`.
std::shared_ptr<HTTPServer> startServer(const std::string& root,
                                        HTTPServer::ConnectionClass connectionClass = nullptr);

// Random but repeatable bytes.
std::string patternBytes(std::size_t length, unsigned seed = 1);

// Runs a shell command; its exit status and standard output.
struct CommandResult {
  int status = -1;
  std::string output;
};
CommandResult run(const std::string& command);

}  // namespace httpservertest
