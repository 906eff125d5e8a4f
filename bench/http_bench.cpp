// Small JSON GETs against a loopback server: the request engine at its WiFi width of six
// against the curl command-line program with six parallel transfers. Prints requests per
// second for both and the ratio (engine / curl).

#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "httpengine/HttpEngine.h"
#include "platform/foundation/RunLoop.h"

namespace {

constexpr int kRequests = 2000;

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double runEngine(int port) {
  auto engine = HttpEngine::create("127.0.0.1");
  engine->setPortNumber(port);
  int done = 0, failed = 0;
  auto start = Clock::now();
  for (int i = 0; i < kRequests; ++i) {
    auto op = engine->operationWithPath("item", platform::Dictionary{{"i", i}});
    op->addCompletionHandler(
        [&](const HttpOperation::Ptr& finished) {
          ++done;
          if (!finished->responseJSON()) ++failed;
        },
        [&](const HttpOperation::Ptr&, const platform::Error&) {
          ++done;
          ++failed;
        });
    engine->enqueueOperation(op);
  }
  platform::RunLoop::main()->runUntil([&] { return done == kRequests; }, platform::seconds(300));
  double elapsed = secondsSince(start);
  if (failed || done != kRequests)
    std::fprintf(stderr, "engine: %d of %d failed\n", failed + kRequests - done, kRequests);
  return elapsed;
}

double runCurl(int port) {
  std::string config = "/tmp/http_bench_" + std::to_string(::getpid()) + ".curl";
  {
    std::ofstream out(config);
    for (int i = 0; i < kRequests; ++i) {
      out << "url = \"http://127.0.0.1:" << port << "/item?i=" << i << "\"\n"
          << "output = \"/dev/null\"\n";
    }
  }
  std::string command =
      "curl --silent --no-progress-meter --fail --parallel --parallel-max 6 --config " + config;
  auto start = Clock::now();
  int status = std::system(command.c_str());
  double elapsed = secondsSince(start);
  std::remove(config.c_str());
  if (status != 0) std::fprintf(stderr, "curl exited with %d\n", status);
  return elapsed;
}

}  // namespace

int main() {
  httplib::Server server;
  server.Get("/item", [](const httplib::Request& request, httplib::Response& response) {
    response.set_content("{\"id\":" + request.get_param_value("i") + ",\"name\":\"lecture\"}",
                         "application/json");
  });
  server.set_tcp_nodelay(true);
  int port = server.bind_to_any_port("127.0.0.1");
  std::thread serving([&] { server.listen_after_bind(); });

  double engineSeconds = runEngine(port);
  double curlSeconds = runCurl(port);
  server.stop();
  serving.join();

  double engineRate = kRequests / engineSeconds;
  double curlRate = kRequests / curlSeconds;
  std::printf("%d small JSON GETs over loopback, six at a time\n", kRequests);
  std::printf("  request engine: %8.0f requests/s\n", engineRate);
  std::printf("  curl --parallel: %7.0f requests/s\n", curlRate);
  std::printf("  ratio engine/curl: %.2f\n", engineRate / curlRate);
  return 0;
}
