#include "HttpServerTestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <random>

namespace httpservertest {

namespace {

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

int Reply::status() const {
  std::size_t space = statusLine.find(' ');
  return space == std::string::npos ? 0 : std::atoi(statusLine.c_str() + space + 1);
}

std::optional<std::string> Reply::header(const std::string& name) const {
  auto found = headers.find(lower(name));
  if (found == headers.end()) return std::nullopt;
  return found->second;
}

RawClient::RawClient(std::uint16_t port, bool ipv6) {
  fd_ = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return;
  timeval timeout{20, 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  int result;
  if (ipv6) {
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(port);
    address.sin6_addr = in6addr_loopback;
    result = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  } else {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    result = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  if (result != 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

RawClient::~RawClient() {
  if (fd_ >= 0) ::close(fd_);
}

void RawClient::send(const std::string& bytes) {
  std::size_t sent = 0;
  while (fd_ >= 0 && sent < bytes.size()) {
    ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += static_cast<std::size_t>(n);
  }
}

bool RawClient::fill() {
  if (fd_ < 0) return false;
  std::array<char, 65536> chunk;
  ssize_t n = ::recv(fd_, chunk.data(), chunk.size(), 0);
  if (n <= 0) return false;
  buffered_.append(chunk.data(), static_cast<std::size_t>(n));
  return true;
}

std::optional<Reply> RawClient::readReply(bool headOnly) {
  std::size_t end;
  while ((end = buffered_.find("\r\n\r\n")) == std::string::npos)
    if (!fill()) return std::nullopt;
  std::string head = buffered_.substr(0, end);
  buffered_.erase(0, end + 4);

  Reply reply;
  std::size_t lineEnd = head.find("\r\n");
  reply.statusLine = head.substr(0, lineEnd);
  while (lineEnd != std::string::npos) {
    std::size_t start = lineEnd + 2;
    lineEnd = head.find("\r\n", start);
    std::string line =
        head.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
    std::size_t colon = line.find(": ");
    if (colon != std::string::npos)
      reply.headers[lower(line.substr(0, colon))] = line.substr(colon + 2);
  }
  if (headOnly) return reply;
  std::size_t length = std::stoull(reply.header("Content-Length").value_or("0"));
  while (buffered_.size() < length)
    if (!fill()) return std::nullopt;
  reply.body = buffered_.substr(0, length);
  buffered_.erase(0, length);
  return reply;
}

std::optional<std::string> RawClient::readBytes(std::size_t length) {
  while (buffered_.size() < length)
    if (!fill()) return std::nullopt;
  std::string bytes = buffered_.substr(0, length);
  buffered_.erase(0, length);
  return bytes;
}

std::string RawClient::readToEnd() {
  while (fill()) {
  }
  return std::exchange(buffered_, std::string());
}

bool RawClient::closedByServer() {
  if (!buffered_.empty()) return false;
  if (fd_ < 0) return true;
  char byte;
  ssize_t n = ::recv(fd_, &byte, 1, 0);
  if (n > 0) buffered_.push_back(byte);
  return n == 0;
}

std::shared_ptr<HTTPServer> startServer(const std::string& root,
                                        HTTPServer::ConnectionClass connectionClass) {
  auto server = HTTPServer::create();
  server->setDocumentRoot(std::optional<std::string>(root));
  server->setInterface(std::string("127.0.0.1"));
  if (connectionClass) server->setConnectionClass(std::move(connectionClass));
  platform::Error error;
  if (!server->start(&error)) return nullptr;
  return server;
}

std::string patternBytes(std::size_t length, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(length, '\0');
  for (char& c : bytes) c = static_cast<char>(generator() & 0xff);
  return bytes;
}

CommandResult run(const std::string& command) {
  CommandResult result;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return result;
  std::array<char, 4096> chunk;
  std::size_t n;
  while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
    result.output.append(chunk.data(), n);
  int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace httpservertest
