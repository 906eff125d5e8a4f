// The fake course server as a program: serves the fixtures on loopback until interrupted.
//   fakeserver [--fixtures DIR] [--host ADDRESS] [--port N] [--port-file PATH] [--reuse 1]
// It prints "port N" once it listens (N is the bound port, useful with --port 0) and writes the
// same number to the port file when one is given.

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "fakeserver/FakeCourseServer.h"

namespace {

struct Options {
  std::string fixtures = fakeserver::FakeCourseServer::defaultFixturesDir();
  std::string host = "127.0.0.1";
  int port = 0;
  std::string portFile;
  bool reuse = false;
};

bool parseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (i + 1 >= argc) return false;
    std::string value = argv[++i];
    if (arg == "--fixtures") {
      options.fixtures = value;
    } else if (arg == "--host") {
      options.host = value;
    } else if (arg == "--port") {
      options.port = std::atoi(value.c_str());
    } else if (arg == "--port-file") {
      options.portFile = value;
    } else if (arg == "--reuse") {
      options.reuse = value == "1";
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parseOptions(argc, argv, options)) {
    std::cerr << "usage: fakeserver [--fixtures DIR] [--host ADDRESS] [--port N] "
                 "[--port-file PATH] [--reuse 1]\n";
    return 2;
  }
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // the serving threads inherit the mask

  fakeserver::FakeCourseServer server(options.fixtures);
  server.setConnectionReuse(options.reuse);
  if (!server.start(options.host, options.port)) {
    std::cerr << "fakeserver: cannot listen on " << options.host << ":" << options.port << "\n";
    return 1;
  }
  std::cout << "port " << server.port() << std::endl;
  if (!options.portFile.empty()) std::ofstream(options.portFile) << server.port() << "\n";

  int received = 0;
  sigwait(&signals, &received);
  server.stop();
  return 0;
}
