// Small JSON GETs against a loopback server: the request engine at its WiFi width of six
// against the curl command-line program with six parallel transfers. The sides run in
// alternating rounds, each against a server of its own started for the round and stopped after
// it, so no thread of the server is still held by the other side's kept-alive connections. Both
// must receive every reply whole (status 200, the same bytes in all) before a figure counts.
// Prints requests per second for both and the ratio (engine / curl).

#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "BenchHarness.h"
#include "httpengine/HttpEngine.h"
#include "platform/foundation/RunLoop.h"

namespace {

constexpr int kRequests = 2000;

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A server answering /item?i=N with a small JSON object, on a port of its own, for one round.
class ItemServer {
 public:
  ItemServer() {
    server_.Get("/item", [](const httplib::Request& request, httplib::Response& response) {
      response.set_content("{\"id\":" + request.get_param_value("i") + ",\"name\":\"lecture\"}",
                           "application/json");
    });
    server_.set_tcp_nodelay(true);
    port_ = server_.bind_to_any_port("127.0.0.1");
    serving_ = std::thread([this] { server_.listen_after_bind(); });
    // Stopping a server that has not started listening would not stop it.
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~ItemServer() {
    server_.stop();
    serving_.join();
  }
  int port() const { return port_; }

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread serving_;
};

std::string digest(int ok, long bytes) {
  return std::to_string(ok) + " of " + std::to_string(kRequests) + " replies whole, " +
         std::to_string(bytes) + " bytes";
}

bench::Outcome runEngine() {
  ItemServer server;
  int ok = 0;
  long bytes = 0;
  double elapsed = 0;
  {
    auto engine = HttpEngine::create("127.0.0.1");
    engine->setPortNumber(server.port());
    int done = 0;
    auto start = Clock::now();
    for (int i = 0; i < kRequests; ++i) {
      auto op = engine->operationWithPath("item", platform::Dictionary{{"i", i}});
      op->addCompletionHandler(
          [&, i](const HttpOperation::Ptr& finished) {
            ++done;
            auto json = finished->responseJSON();
            auto data = finished->responseData();
            if (json && json->value("id", -1) == i) ++ok;
            if (data) bytes += static_cast<long>(data->size());
          },
          [&](const HttpOperation::Ptr&, const platform::Error&) { ++done; });
      engine->enqueueOperation(op);
    }
    platform::RunLoop::main()->runUntil([&] { return done == kRequests; }, platform::seconds(300));
    elapsed = secondsSince(start);
  }
  return {kRequests / elapsed, digest(ok, bytes)};
}

bench::Outcome runCurl() {
  ItemServer server;
  std::string config = "/tmp/http_bench_" + std::to_string(::getpid()) + ".curl";
  {
    std::ofstream out(config);
    for (int i = 0; i < kRequests; ++i) {
      out << "url = \"http://127.0.0.1:" << server.port() << "/item?i=" << i << "\"\n"
          << "output = \"/dev/null\"\n";
    }
  }
  // Each transfer's status and size, to check the replies as the engine's are checked.
  std::string command =
      "curl --silent --no-progress-meter --parallel --parallel-max 6 "
      "--write-out '%{response_code} %{size_download}\\n' --config " +
      config;
  auto start = Clock::now();
  std::string report;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) report.append(chunk, n);
    ::pclose(pipe);
  }
  double elapsed = secondsSince(start);
  std::remove(config.c_str());
  int ok = 0;
  long bytes = 0;
  std::istringstream lines(report);
  for (int code = 0, size = 0; lines >> code >> size;) {
    if (code == 200) ++ok;
    bytes += size;
  }
  return {kRequests / elapsed, digest(ok, bytes)};
}

}  // namespace

int main() {
  bench::Harness harness("http");
  harness.compare({"2,000 small JSON GETs, six at a time",
                   "req/s",
                   "request engine",
                   "curl --parallel",
                   {">=", 0.8},
                   ""},
                  runEngine, runCurl);
  return harness.exitCode();
}
