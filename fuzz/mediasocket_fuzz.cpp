// The media server over a real loopback socket: the input is what a client sends on one TCP
// connection to a server on 127.0.0.1 serving a small folder, after which the client closes its
// sending side. Every byte goes through the reactor, the socket's read and write sources and the
// connection's request road, so faults of the event path itself (not only of the parsers) show
// here. It must not crash, the server must end the connection within the time limit, and what it
// answers must be HTTP replies.

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "ScratchHome.h"
#include "httpserver/core/HTTPServer.h"

namespace {

constexpr int kTimeLimitMs = 20000;

void check(bool condition) {
  if (!condition) __builtin_trap();
}

struct ServedFolder {
  ScratchHome home{"mediasocket"};
  std::shared_ptr<HTTPServer> server = HTTPServer::create();
  std::uint16_t port = 0;
  ServedFolder() {
    namespace fs = std::filesystem;
    fs::path root = fs::path(home.path()) / "root";
    fs::create_directories(root / "dir");
    std::ofstream(root / "a.ts") << std::string(5000, 'a');
    std::ofstream(root / "dir" / "index.html") << "index";
    server->setDocumentRoot(std::optional<std::string>(root.string()));
    server->setInterface(std::string("127.0.0.1"));
    platform::Error error;
    check(server->start(&error));
    port = server->listeningPort();
  }
};

const ServedFolder& served() {
  static const ServedFolder* instance = new ServedFolder;  // serves for the whole process
  return *instance;
}

int connectTo(std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  check(fd >= 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  check(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0);
  return fd;
}

// Sends everything, reading replies meanwhile so that neither side's buffers can fill up and
// hold the other; then half-closes and reads until the server ends the connection.
std::string exchange(int fd, const std::uint8_t* data, std::size_t size) {
  std::string received;
  std::size_t sent = 0;
  bool halfClosed = false;
  char buffer[16384];
  while (true) {
    if (sent == size && !halfClosed) {
      ::shutdown(fd, SHUT_WR);
      halfClosed = true;
    }
    pollfd watched{fd, static_cast<short>(POLLIN | (halfClosed ? 0 : POLLOUT)), 0};
    check(::poll(&watched, 1, kTimeLimitMs) == 1);  // none: the server left the connection hanging
    if (watched.revents & (POLLIN | POLLHUP | POLLERR)) {
      ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) return received;  // the end, or a reset after unread input
      received.append(buffer, static_cast<std::size_t>(n));
    } else if (watched.revents & POLLOUT) {
      ssize_t n = ::send(fd, data + sent, size - sent, MSG_NOSIGNAL);
      if (n < 0) return received;  // the server closed while we sent
      sent += static_cast<std::size_t>(n);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  int fd = connectTo(served().port);
  std::string received = exchange(fd, data, size);
  ::close(fd);
  check(received.empty() || received.rfind("HTTP/1.1 ", 0) == 0);
  return 0;
}
