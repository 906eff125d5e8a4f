#include "LoopbackServer.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace mediatest {

LoopbackServer::LoopbackServer(const std::function<void(httplib::Server&)>& routes)
    : server_(std::make_unique<httplib::Server>()) {
  routes(*server_);
  // One request per connection: a connection kept alive would hold the server's stop for the
  // whole keep-alive time.
  server_->set_keep_alive_max_count(1);
  // Recorded before the answer goes out: once a client has its answer, the path is listed.
  server_->set_pre_routing_handler([this](const httplib::Request& request, httplib::Response&) {
    platform::MutexLock lock(mutex_);
    paths_.push_back(request.path);
    return httplib::Server::HandlerResponse::Unhandled;
  });
  port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("cannot bind a loopback port");
  // The socket already listens, so requests made before the thread runs wait in the backlog.
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  // A stop that came before the accept loop started would be lost, and the join would hang.
  auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!server_->is_running() && std::chrono::steady_clock::now() < limit) {
    std::this_thread::yield();
  }
}

LoopbackServer::~LoopbackServer() {
  server_->stop();
  thread_.join();
}

std::string LoopbackServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> LoopbackServer::paths() const {
  platform::MutexLock lock(mutex_);
  return paths_;
}

RefusingPort::RefusingPort() {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("cannot bind a loopback port");
  }
  port_ = ntohs(address.sin_port);
}

RefusingPort::~RefusingPort() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace mediatest
