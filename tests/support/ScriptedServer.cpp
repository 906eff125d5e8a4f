#include "support/ScriptedServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>

namespace testsupport {

namespace {

bool sameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string trim(const std::string& s) {
  auto begin = s.find_first_not_of(" \t");
  if (begin == std::string::npos) return {};
  return s.substr(begin, s.find_last_not_of(" \t\r") - begin + 1);
}

auto deadlineAfter(double seconds) {
  return std::chrono::steady_clock::now() +
         std::chrono::duration_cast<std::chrono::steady_clock::duration>(
             std::chrono::duration<double>(seconds));
}

}  // namespace

std::optional<std::string> ScriptedRequest::header(const std::string& name) const {
  for (const auto& [key, value] : headers) {
    if (sameText(key, name)) return value;
  }
  return std::nullopt;
}

std::string ScriptedRequest::query() const {
  auto at = target.find('?');
  return at == std::string::npos ? std::string() : target.substr(at + 1);
}

ScriptedReply ScriptedReply::text(int status, std::string body, std::string contentType) {
  ScriptedReply reply;
  reply.status = status;
  reply.reason = status == 200 ? "OK" : "Status";
  reply.body = std::move(body);
  reply.headers.emplace_back("Content-Type", std::move(contentType));
  return reply;
}

ScriptedReply ScriptedReply::ranged(const ScriptedRequest& request, const std::string& body) {
  auto range = request.header("Range");
  ScriptedReply reply;
  reply.headers.emplace_back("Content-Type", "application/octet-stream");
  if (!range || range->rfind("bytes=", 0) != 0) {
    reply.body = body;
    return reply;
  }
  std::string rangeText = range->substr(6);
  std::size_t dash = rangeText.find('-');
  std::size_t first = std::stoul(rangeText.substr(0, dash));
  std::size_t last =
      dash + 1 < rangeText.size() ? std::stoul(rangeText.substr(dash + 1)) : body.size() - 1;
  last = std::min(last, body.size() - 1);
  reply.status = 206;
  reply.reason = "Partial Content";
  reply.body = body.substr(first, last - first + 1);
  reply.headers.emplace_back("Content-Range", "bytes " + std::to_string(first) + "-" +
                                                  std::to_string(last) + "/" +
                                                  std::to_string(body.size()));
  return reply;
}

std::string ScriptedReply::encoded(const std::string& text, const std::string& coding) {
  z_stream stream{};
  int windowBits = coding == "gzip" ? 16 + MAX_WBITS : MAX_WBITS;
  deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&stream, text.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

ScriptedServer::ScriptedServer(Handler handler) : handler_(std::move(handler)) {
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  listen(listenFd_, 128);
  socklen_t length = sizeof address;
  getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  acceptThread_ = std::thread([this] { acceptLoop(); });
}

ScriptedServer::~ScriptedServer() {
  {
    platform::MutexLock lock(mutex_);
    stopping_ = true;
    released_ = true;
    for (int fd : clients_) shutdown(fd, SHUT_RDWR);
  }
  cv_.notify_all();
  shutdown(listenFd_, SHUT_RDWR);
  close(listenFd_);
  acceptThread_.join();
  std::vector<std::thread> threads;
  {
    platform::MutexLock lock(mutex_);
    threads.swap(threads_);
  }
  for (auto& t : threads) t.join();
}

std::string ScriptedServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void ScriptedServer::acceptLoop() {
  for (;;) {
    int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    platform::MutexLock lock(mutex_);
    if (stopping_) {
      close(fd);
      return;
    }
    clients_.push_back(fd);
    threads_.emplace_back([this, fd] { serve(fd); });
  }
}

bool ScriptedServer::readRequest(int fd, std::string& buffer, ScriptedRequest& request) {
  char chunk[16384];
  std::size_t headEnd;
  while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
    ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    buffer.append(chunk, static_cast<std::size_t>(n));
  }
  std::string head = buffer.substr(0, headEnd);
  buffer.erase(0, headEnd + 4);
  std::size_t lineEnd = head.find("\r\n");
  std::string requestLine = head.substr(0, lineEnd);
  auto firstSpace = requestLine.find(' ');
  auto secondSpace = requestLine.find(' ', firstSpace + 1);
  request.method = requestLine.substr(0, firstSpace);
  request.target = requestLine.substr(firstSpace + 1, secondSpace - firstSpace - 1);
  std::size_t at = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
  while (at < head.size()) {
    std::size_t end = head.find("\r\n", at);
    if (end == std::string::npos) end = head.size();
    std::string line = head.substr(at, end - at);
    auto colon = line.find(':');
    if (colon != std::string::npos)
      request.headers.emplace_back(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
    at = end + 2;
  }
  auto readMore = [&]() {
    ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    buffer.append(chunk, static_cast<std::size_t>(n));
    return true;
  };
  if (auto length = request.header("Content-Length")) {
    std::size_t want = std::stoul(*length);
    while (buffer.size() < want) {
      if (!readMore()) return false;
    }
    request.body = buffer.substr(0, want);
    buffer.erase(0, want);
  } else if (auto coding = request.header("Transfer-Encoding");
             coding && sameText(*coding, "chunked")) {
    for (;;) {
      std::size_t end;
      while ((end = buffer.find("\r\n")) == std::string::npos) {
        if (!readMore()) return false;
      }
      std::size_t size = std::stoul(buffer.substr(0, end), nullptr, 16);
      while (buffer.size() < end + 2 + size + 2) {
        if (!readMore()) return false;
      }
      request.body += buffer.substr(end + 2, size);
      buffer.erase(0, end + 2 + size + 2);
      if (size == 0) break;
    }
  }
  return true;
}

bool ScriptedServer::writeAll(int fd, const char* data, std::size_t length, bool countBody) {
  while (length > 0) {
    std::size_t chunkLength = std::min<std::size_t>(length, 65536);
    ssize_t n = send(fd, data, chunkLength, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    length -= static_cast<std::size_t>(n);
    if (countBody) {
      platform::MutexLock lock(mutex_);
      bodyBytes_ += static_cast<std::size_t>(n);
      cv_.notify_all();
    }
  }
  return true;
}

bool ScriptedServer::writePaced(int fd, const std::string& body) {
  for (char byte : body) {
    {
      platform::MutexLock lock(mutex_);
      cv_.wait(lock.native(), [&]() REQUIRES(mutex_) { return stopping_ || pacedAllowance_ > 0; });
      if (stopping_) return false;
      --pacedAllowance_;
    }
    if (!writeAll(fd, &byte, 1, true)) return false;
  }
  return true;
}

void ScriptedServer::stallUntilStopped() {
  platform::MutexLock lock(mutex_);
  cv_.wait(lock.native(), [&]() REQUIRES(mutex_) { return stopping_; });
}

void ScriptedServer::serve(int fd) {
  std::string buffer;
  for (;;) {
    ScriptedRequest request;
    if (!readRequest(fd, buffer, request)) break;
    {
      platform::MutexLock lock(mutex_);
      requests_.push_back(request);
      ++inFlight_;
      maxInFlight_ = std::max(maxInFlight_, inFlight_);
    }
    cv_.notify_all();
    ScriptedReply reply = handler_(request);
    if (reply.gated) {
      platform::MutexLock lock(mutex_);
      cv_.wait(lock.native(), [&]() REQUIRES(mutex_) { return released_; });
    }
    bool keepOpen = true;
    using B = ScriptedReply::Behaviour;
    if (reply.behaviour == B::StallBeforeHead) {
      stallUntilStopped();
      keepOpen = false;
    } else if (reply.behaviour == B::CloseBeforeHead) {
      keepOpen = false;
    } else {
      std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " " + reply.reason + "\r\n";
      bool hasLength = false;
      for (const auto& [name, value] : reply.headers) {
        head += name + ": " + value + "\r\n";
        if (sameText(name, "Content-Length")) hasLength = true;
      }
      std::size_t announced = reply.body.size();
      if (reply.behaviour == B::CloseMidBody) announced = reply.body.size() * 2 + 1;
      if (!hasLength && reply.status != 304 && reply.status >= 200)
        head += "Content-Length: " + std::to_string(announced) + "\r\n";
      head += "\r\n";
      bool ok = writeAll(fd, head.data(), head.size(), false);
      if (ok && reply.behaviour == B::StallAfterHead) {
        stallUntilStopped();
        ok = false;
      }
      if (ok && request.method != "HEAD") {
        ok = reply.behaviour == B::Paced ? writePaced(fd, reply.body)
                                         : writeAll(fd, reply.body.data(), reply.body.size(), true);
      }
      keepOpen = ok && (reply.behaviour == B::Normal || reply.behaviour == B::Paced);
    }
    {
      platform::MutexLock lock(mutex_);
      --inFlight_;
      ++repliesDone_;
    }
    cv_.notify_all();
    if (!keepOpen) break;
  }
  platform::MutexLock lock(mutex_);
  std::erase(clients_, fd);
  shutdown(fd, SHUT_RDWR);
  close(fd);
}

void ScriptedServer::releaseReplies() {
  {
    platform::MutexLock lock(mutex_);
    released_ = true;
  }
  cv_.notify_all();
}

void ScriptedServer::allowBodyBytes(std::size_t n) {
  {
    platform::MutexLock lock(mutex_);
    pacedAllowance_ += n;
  }
  cv_.notify_all();
}

std::vector<ScriptedRequest> ScriptedServer::requests() const {
  platform::MutexLock lock(mutex_);
  return requests_;
}

std::size_t ScriptedServer::requestCount() const {
  platform::MutexLock lock(mutex_);
  return requests_.size();
}

bool ScriptedServer::waitForRequests(std::size_t n, double timeoutSeconds) {
  platform::MutexLock lock(mutex_);
  return cv_.wait_until(lock.native(), deadlineAfter(timeoutSeconds),
                        [&]() REQUIRES(mutex_) { return requests_.size() >= n; });
}

bool ScriptedServer::waitForInFlight(std::size_t n, double timeoutSeconds) {
  platform::MutexLock lock(mutex_);
  return cv_.wait_until(lock.native(), deadlineAfter(timeoutSeconds),
                        [&]() REQUIRES(mutex_) { return inFlight_ >= n; });
}

bool ScriptedServer::waitForReplies(std::size_t n, double timeoutSeconds) {
  platform::MutexLock lock(mutex_);
  return cv_.wait_until(lock.native(), deadlineAfter(timeoutSeconds),
                        [&]() REQUIRES(mutex_) { return repliesDone_ >= n; });
}

bool ScriptedServer::waitForBodyBytes(std::size_t bytes, double timeoutSeconds) {
  platform::MutexLock lock(mutex_);
  return cv_.wait_until(lock.native(), deadlineAfter(timeoutSeconds),
                        [&]() REQUIRES(mutex_) { return bodyBytes_ >= bytes; });
}

std::size_t ScriptedServer::maxInFlight() const {
  platform::MutexLock lock(mutex_);
  return maxInFlight_;
}

std::size_t ScriptedServer::inFlight() const {
  platform::MutexLock lock(mutex_);
  return inFlight_;
}

std::size_t ScriptedServer::repliesDone() const {
  platform::MutexLock lock(mutex_);
  return repliesDone_;
}

std::size_t ScriptedServer::bodyBytesSent() const {
  platform::MutexLock lock(mutex_);
  return bodyBytes_;
}

}  // namespace testsupport
