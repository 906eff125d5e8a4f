// The local media server against nginx (one worker, access_log off, sendfile off and then on)
// on loopback with the same files, driven by wrk: a whole 64 MiB file at 1 connection, random
// 256 KiB ranges at 64 connections, 4 KiB files at 1, 10, 100 and 256 connections, and 1,000
// idle keep-alive connections (errors and resident memory). The aims are against nginx with
// sendfile off. Both sides must give identical bytes first, and every
// reply of every run must be a success. Our server and each nginx set-up run in alternating
// rounds, 5 each; medians, ranges and ratios to nginx with sendfile off and on are printed.
//
// Our server runs in a child process of its own (this program started with --serve), so its
// resident memory and CPU time are measured as nginx's are. Servers run on the harness's server
// cores and wrk and curl on its load cores; beside each rate the CPU time the server used per
// request (or per MiB) is compared.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchHarness.h"
#include "httpserver/core/HTTPServer.h"
#include "platform/foundation/RunLoop.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kBigSize = 64u << 20;
constexpr int kSmallFiles = 200;
constexpr int kRounds = 5;
constexpr int kSeconds = 2;

std::string runCommand(const std::string& command, int* status = nullptr) {
  std::string output;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return output;
  std::array<char, 4096> chunk;
  std::size_t n;
  while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) output.append(chunk.data(), n);
  int result = ::pclose(pipe);
  if (status) *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
  return output;
}

std::uint16_t freePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

bool waitForPort(std::uint16_t port) {
  for (int i = 0; i < 500; ++i) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    if (ok) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// Resident memory of a process and its children, in KiB.
long residentKiB(pid_t pid) {
  long total = 0;
  std::vector<pid_t> pids{pid};
  std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) +
                         "/children");
  for (pid_t child; children >> child;) pids.push_back(child);
  for (pid_t p : pids) {
    std::ifstream status("/proc/" + std::to_string(p) + "/status");
    for (std::string line; std::getline(status, line);)
      if (line.rfind("VmRSS:", 0) == 0) total += std::atol(line.c_str() + 6);
  }
  return total;
}

struct Server {
  std::string name;
  pid_t pid = -1;
  std::uint16_t port = 0;
  void stop() {
    if (pid > 0) {
      ::kill(pid, SIGTERM);
      ::waitpid(pid, nullptr, 0);
      pid = -1;
    }
  }
};

Server startOurs(const std::string& root) {
  Server server{"ours", -1, freePort()};
  server.pid = ::fork();
  if (server.pid == 0) {
    bench::pinTo(bench::cores().server);
    ::execl("/proc/self/exe", "httpserver_bench", "--serve", root.c_str(),
            std::to_string(server.port).c_str(), nullptr);
    ::_exit(127);
  }
  if (!waitForPort(server.port)) server.stop();
  return server;
}

Server startNginx(const std::string& root, const std::string& scratch, bool sendfile) {
  Server server{sendfile ? "nginx sendfile on" : "nginx sendfile off", -1, freePort()};
  std::string prefix = scratch + (sendfile ? "/nginx-on" : "/nginx-off");
  fs::create_directories(prefix + "/logs");
  std::ofstream conf(prefix + "/nginx.conf");
  conf << (::geteuid() == 0 ? "user root;\n" : "") << "worker_processes 1;\ndaemon off;\n"
       << "pid " << prefix << "/nginx.pid;\nerror_log " << prefix << "/logs/error.log;\n"
       << "events { worker_connections 4096; }\n"
       << "http {\n  access_log off;\n  sendfile " << (sendfile ? "on" : "off") << ";\n"
       << "  keepalive_requests 1000000;\n"
       << "  client_body_temp_path " << prefix << "/body;\n  proxy_temp_path " << prefix
       << "/proxy;\n  fastcgi_temp_path " << prefix << "/fastcgi;\n  uwsgi_temp_path " << prefix
       << "/uwsgi;\n  scgi_temp_path " << prefix << "/scgi;\n"
       << "  server { listen 127.0.0.1:" << server.port << "; root " << root << "; }\n}\n";
  conf.close();
  server.pid = ::fork();
  if (server.pid == 0) {
    bench::pinTo(bench::cores().server);
    ::execlp("nginx", "nginx", "-p", prefix.c_str(), "-c", (prefix + "/nginx.conf").c_str(),
             nullptr);
    ::_exit(127);
  }
  if (!waitForPort(server.port)) server.stop();
  return server;
}

std::string fetch(const Server& server, const std::string& path, const std::string& range = "") {
  return runCommand(bench::onLoadCores("curl -s " + (range.empty() ? "" : "-r " + range + " ") +
                                       "http://127.0.0.1:" + std::to_string(server.port) + path));
}

// wrk's figure in MiB or requests per second, whether every reply was a success, and the CPU
// time the server used per request (per MiB for byte figures).
bench::Outcome wrkFigure(const Server& server, const std::string& path, int connections,
                         const std::string& script, bool bytes) {
  int threads = std::min(connections, 4);
  const double cpuBefore = bench::processCpuSeconds(server.pid);
  std::string output = runCommand(bench::onLoadCores(
      "wrk -t" + std::to_string(threads) + " -c" + std::to_string(connections) + " -d" +
      std::to_string(kSeconds) + "s" + (script.empty() ? "" : " -s " + script) +
      " http://127.0.0.1:" + std::to_string(server.port) + path));
  const double cpuUsed = bench::processCpuSeconds(server.pid) - cpuBefore;
  bench::Outcome outcome{0, "every reply a success"};
  double requests = 0;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("Non-2xx or 3xx responses:") != std::string::npos)
      outcome.result = "failed replies:" + line.substr(line.find(':') + 1);
    std::istringstream fields(line);
    std::string label, value;
    fields >> label >> value;
    if (!bytes && label == "Requests/sec:") outcome.value = std::atof(value.c_str());
    if (value == "requests") requests = std::atof(label.c_str());
    if (bytes && label == "Transfer/sec:") {
      double number = std::atof(value.c_str());
      if (value.find("GB") != std::string::npos) number *= 1 << 30;
      if (value.find("MB") != std::string::npos) number *= 1 << 20;
      if (value.find("KB") != std::string::npos) number *= 1 << 10;
      outcome.value = number / (1 << 20);
    }
  }
  double units = bytes ? outcome.value * kSeconds : requests;
  if (units > 0) outcome.cpuPerUnit = cpuUsed * 1e6 / units;
  return outcome;
}

// Opens `count` keep-alive connections, each answered once, and keeps them idle; the errors and
// the server's resident memory then.
std::pair<int, long> idleConnections(const Server& server, int count) {
  std::vector<int> fds;
  int errors = 0;
  const std::string request = "GET /small/0.bin HTTP/1.1\r\nHost: x\r\n\r\n";
  for (int i = 0; i < count; ++i) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(server.port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(request.size())) {
      ++errors;
      ::close(fd);
      continue;
    }
    fds.push_back(fd);
  }
  for (int fd : fds) {
    std::string reply;
    std::array<char, 8192> chunk;
    while (reply.find("\r\n\r\n") == std::string::npos || reply.size() < 4096) {
      ssize_t n = ::recv(fd, chunk.data(), chunk.size(), 0);
      if (n <= 0) break;
      reply.append(chunk.data(), static_cast<std::size_t>(n));
    }
    if (reply.rfind("HTTP/1.1 200", 0) != 0) ++errors;
  }
  long rss = residentKiB(server.pid);
  for (int fd : fds) ::close(fd);
  return {errors, rss};
}

int serve(const std::string& root, std::uint16_t port) {
  auto server = HTTPServer::create();
  server->setDocumentRoot(std::optional<std::string>(root));
  server->setInterface(std::string("127.0.0.1"));
  server->setPort(port);
  if (!server->start()) return 1;
  platform::RunLoop::main()->run();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--serve")
    return serve(argv[2], static_cast<std::uint16_t>(std::atoi(argv[3])));

  int status = 0;
  runCommand("nginx -v 2>&1", &status);
  int wrkStatus = 0;
  runCommand("wrk --version 2>&1", &wrkStatus);
  if (status != 0 || wrkStatus > 1) {
    std::printf("httpserver_bench: nginx and wrk are needed (make bench installs them)\n");
    return 0;
  }

  std::string scratch =
      (fs::temp_directory_path() / ("httpserver-bench-" + std::to_string(::getpid()))).string();
  std::string root = scratch + "/root";
  fs::create_directories(root + "/small");
  fs::permissions(scratch, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
  {
    std::mt19937_64 generator(42);
    std::string big(kBigSize, '\0');
    for (std::size_t i = 0; i < big.size(); i += 8) {
      std::uint64_t word = generator();
      std::memcpy(&big[i], &word, 8);
    }
    std::ofstream(root + "/big.bin", std::ios::binary) << big;
    for (int i = 0; i < kSmallFiles; ++i)
      std::ofstream(root + "/small/" + std::to_string(i) + ".bin", std::ios::binary)
          << big.substr(static_cast<std::size_t>(i) * 4096, 4096);
  }
  std::string rangesScript = scratch + "/ranges.lua";
  std::ofstream(rangesScript) << "math.randomseed(7)\nrequest = function()\n"
                              << "  local first = math.random(0, " << (kBigSize / 262144 - 1)
                              << ") * 262144\n"
                              << "  return wrk.format('GET', '/big.bin', {['Range'] = 'bytes=' .. "
                                 "first .. '-' .. (first + 262143)})\nend\n";
  std::string smallScript = scratch + "/small.lua";
  std::ofstream(smallScript) << "math.randomseed(11)\nrequest = function()\n"
                             << "  return wrk.format('GET', '/small/' .. math.random(0, "
                             << (kSmallFiles - 1) << ") .. '.bin')\nend\n";

  bench::printPlacement();
  std::vector<Server> servers = {startOurs(root), startNginx(root, scratch, false),
                                 startNginx(root, scratch, true)};
  for (const auto& server : servers) {
    if (server.pid < 0) {
      std::printf("httpserver_bench: %s did not start\n", server.name.c_str());
      return 1;
    }
  }

  // Identical bytes first.
  for (std::size_t i = 1; i < servers.size(); ++i) {
    bool same = fetch(servers[0], "/big.bin") == fetch(servers[i], "/big.bin") &&
                fetch(servers[0], "/big.bin", "262144-524287") ==
                    fetch(servers[i], "/big.bin", "262144-524287") &&
                fetch(servers[0], "/small/17.bin") == fetch(servers[i], "/small/17.bin");
    if (!same) {
      std::printf("httpserver_bench: %s and %s answer different bytes\n", servers[0].name.c_str(),
                  servers[i].name.c_str());
      return 1;
    }
  }

  struct Scenario {
    std::string name;
    std::string path;
    int connections;
    std::string script;
    bool bytes;
    bench::Aim aim;  // against nginx with sendfile off; the sendfile-on figure is for reading
    bench::Aim cpuAim{};
  };
  const std::vector<Scenario> scenarios = {
      {"64 MiB whole, 1 connection", "/big.bin", 1, "", true, {">=", 0.9}},
      {"256 KiB ranges, 64 connections", "/big.bin", 64, rangesScript, true, {">=", 0.8}},
      {"4 KiB files, 1 connection", "/small/0.bin", 1, smallScript, false, {">=", 0.8}, {"<=", 2}},
      {"4 KiB files, 10 connections",
       "/small/0.bin",
       10,
       smallScript,
       false,
       {">=", 0.5},
       {"<=", 2}},
      {"4 KiB files, 100 connections",
       "/small/0.bin",
       100,
       smallScript,
       false,
       {">=", 0.5},
       {"<=", 2}},
      {"4 KiB files, 256 connections", "/small/0.bin", 256, smallScript, false, {}},
  };
  bench::Harness harness("httpserver", kRounds);
  for (const auto& scenario : scenarios) {
    for (std::size_t i = 1; i < servers.size(); ++i) {
      harness.compare(
          {scenario.name, scenario.bytes ? "MiB/s" : "req/s", "ours", servers[i].name,
           i == 1 ? scenario.aim : bench::Aim{}, "", i == 1 ? scenario.cpuAim : bench::Aim{}},
          [&] {
            return wrkFigure(servers[0], scenario.path, scenario.connections, scenario.script,
                             scenario.bytes);
          },
          [&] {
            return wrkFigure(servers[i], scenario.path, scenario.connections, scenario.script,
                             scenario.bytes);
          });
    }
  }
  std::printf("\n1,000 idle keep-alive connections:\n");
  for (const auto& server : servers) {
    auto [errors, rss] = idleConnections(server, 1000);
    std::printf("  %-20s errors %d, resident %ld KiB\n", server.name.c_str(), errors, rss);
  }
  for (auto& server : servers) server.stop();
  fs::remove_all(scratch);
  return harness.exitCode();
}
