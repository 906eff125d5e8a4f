// Listens on "localhost" with a DispatchSocket, connects to 127.0.0.1 with a plain socket and
// waits until the listener has handed that connection over. Exits 0 when all of it worked, 1
// when listening failed (the reason on standard error), 2 when the connection never arrived.
// The sockets tests run it inside a network namespace whose IPv6 is switched off.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>

#include "platform/dispatch/Queue.h"
#include "sockets/dispatch/DispatchSocket.h"

namespace {

class Accepting : public DispatchSocketDelegate {
 public:
  void socketDidAcceptNewSocket(const std::shared_ptr<DispatchSocket>&,
                                const std::shared_ptr<DispatchSocket>& newSocket) override {
    std::lock_guard<std::mutex> lock(mutex);
    accepted = newSocket;
    changed.notify_all();
  }
  std::mutex mutex;
  std::condition_variable changed;
  std::shared_ptr<DispatchSocket> accepted;
};

}  // namespace

int main() {
  auto delegate = std::make_shared<Accepting>();
  auto listener =
      DispatchSocket::create(delegate, platform::dispatch::Queue::serial("probe-delegate"));
  platform::Error error;
  if (!listener->acceptOnInterface("localhost", 0, &error)) {
    std::fprintf(stderr, "listen failed: %s (%lld)\n", error.localizedDescription().c_str(),
                 static_cast<long long>(error.code()));
    return 1;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(listener->localPort());
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return 2;
  std::unique_lock<std::mutex> lock(delegate->mutex);
  bool arrived = delegate->changed.wait_for(lock, std::chrono::seconds(30),
                                            [&] { return delegate->accepted != nullptr; });
  ::close(client);

  return arrived ? 0 : 2;
}
