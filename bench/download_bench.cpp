// Lecture downloads against curl: a lecture of many small segments through the whole pipeline
// (DownloadManager, one file at a time), and one large file through the file downloader, both
// from the fake course server on loopback (run as its own process, with connection reuse). The
// peer is one curl run fetching the same files with connection reuse. The sides run in
// alternating rounds, each against a server process started for the round and stopped after it
// (no connection of one side outlives its round), and every file each side wrote must match the
// served file byte for byte before a figure counts. The server process runs on the harness's
// server cores; this process (our side runs in it) and curl on its load cores.
//
//   download_bench [--segments N] [--segment-kib K] [--large-mib M]
// Defaults: 500 segments of 64 KiB and one file of 1024 MiB.

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "BenchHarness.h"
#include "download/DownloadManager.h"
#include "download/SIDownloadManager.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/RunLoop.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Options {
  int segments = 500;
  int segmentKiB = 64;
  int largeMiB = 1024;
};

Options parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string arg = argv[i];
    int value = std::atoi(argv[i + 1]);
    if (arg == "--segments") options.segments = value;
    if (arg == "--segment-kib") options.segmentKiB = value;
    if (arg == "--large-mib") options.largeMiB = value;
  }
  return options;
}

void writeRandom(const std::string& path, std::size_t size, std::mt19937_64& random) {
  std::vector<std::uint64_t> block(size / 8 + 1);
  for (auto& word : block) word = random();
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(block.data()), size);
}

// The media folder: a playlist of `segments` random segments, and one large file whose blocks
// repeat (it is written once, quickly, and read like any other file).
void makeMedia(const std::string& root, const Options& options) {
  fs::create_directories(root + "/lectures/bench");
  std::mt19937_64 random(42);
  std::ofstream playlist(root + "/lectures/bench/index.m3u8");
  playlist << "#EXTM3U\n#EXT-X-TARGETDURATION:10\n";
  for (int i = 0; i < options.segments; ++i) {
    playlist << "#EXTINF:10,\nseg" << i << ".ts\n";
    writeRandom(root + "/lectures/bench/seg" + std::to_string(i) + ".ts",
                static_cast<std::size_t>(options.segmentKiB) * 1024, random);
  }
  playlist << "#EXT-X-ENDLIST\n";
  std::vector<char> block(1 << 20);
  for (auto& byte : block) byte = static_cast<char>(random());
  std::ofstream large(root + "/lectures/large.bin", std::ios::binary);
  for (int i = 0; i < options.largeMiB; ++i) large.write(block.data(), block.size());
}

// Starts the fake server as a process; returns its pid and port.
std::pair<pid_t, int> startServer(const std::string& root) {
  std::string portFile = root + "/port";
  fs::remove(portFile);
  pid_t pid = fork();
  if (pid == 0) {
    bench::pinTo(bench::cores().server);
    // The server announces its port on standard output; the port file is what is read here.
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, STDOUT_FILENO);
    execl(FAKESERVER_PATH, FAKESERVER_PATH, "--fixtures", root.c_str(), "--port-file",
          portFile.c_str(), "--reuse", "1", static_cast<char*>(nullptr));
    _exit(127);
  }
  for (int i = 0; i < 500 && !fs::exists(portFile); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  int port = 0;
  std::ifstream(portFile) >> port;
  return {pid, port};
}

double seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The fake server for one round.
class ServerProcess {
 public:
  explicit ServerProcess(const std::string& root) {
    auto [pid, port] = startServer(root);
    pid_ = pid;
    base_ = "http://127.0.0.1:" + std::to_string(port);
  }
  ~ServerProcess() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  const std::string& base() const { return base_; }

 private:
  pid_t pid_;
  std::string base_;
};

bool sameBytes(const std::string& a, const std::string& b) {
  std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
  if (!x || !y) return false;
  std::vector<char> bx(1 << 20), by(1 << 20);
  while (true) {
    x.read(bx.data(), static_cast<std::streamsize>(bx.size()));
    y.read(by.data(), static_cast<std::streamsize>(by.size()));
    if (x.gcount() != y.gcount()) return false;
    if (x.gcount() == 0) return true;
    if (!std::equal(bx.begin(), bx.begin() + x.gcount(), by.begin())) return false;
  }
}

// Whether every file named in `names` lies somewhere under `folder` with the bytes of the file of
// that name in `served`; a text both sides must give alike.
std::string compareWithServed(const std::string& folder, const std::string& served,
                              const std::vector<std::string>& names) {
  std::map<std::string, std::string> found;
  if (fs::exists(folder)) {
    for (const auto& entry : fs::recursive_directory_iterator(folder))
      if (entry.is_regular_file()) found[entry.path().filename().string()] = entry.path().string();
  }
  for (const auto& name : names) {
    auto it = found.find(name);
    if (it == found.end()) return name + " missing";
    if (!sameBytes(it->second, served + "/" + name)) return name + " differs";
  }
  return "all " + std::to_string(names.size()) + " identical to the served files";
}

double runCurl(const std::string& config) {
  auto start = Clock::now();
  std::string command = "curl -s -K " + config;
  if (std::system(command.c_str()) != 0) std::cerr << "curl failed\n";
  return seconds(start);
}

double oursLecture(const std::string& base) {
  DownloadManager manager;
  manager.setDownloadToPath(platform::Paths::documents() + "/1");
  bool done = false, failed = false;
  auto finish = platform::NotificationCenter::defaultCenter().addObserver(
      "cell_finish", [&](const platform::Notification&) { done = true; });
  auto error = platform::NotificationCenter::defaultCenter().addObserver(
      "cell_network_error", [&](const platform::Notification&) { failed = true; });
  auto lecture = std::make_shared<CourseWare>();
  lecture->setVideoUrl(base + "/media/bench/index.m3u8");
  auto start = Clock::now();
  manager.addDownlodTask(lecture, "1_2014_1");
  platform::RunLoop::main()->runUntil([&] { return done || failed; }, platform::seconds(600));
  double elapsed = seconds(start);
  if (failed || !done) std::cerr << "lecture download failed\n";
  return elapsed;
}

double oursLarge(const std::string& base) {
  auto downloader = SIDownloadManager::sharedSIDownloadManager();
  std::string target = platform::Paths::documents() + "/large.bin";
  bool done = false, failed = false;
  auto finish = platform::NotificationCenter::defaultCenter().addObserver(
      "downloadDidComplete", [&](const platform::Notification&) { done = true; });
  auto error = platform::NotificationCenter::defaultCenter().addObserver(
      "downloadError", [&](const platform::Notification&) { failed = true; });
  auto start = Clock::now();
  downloader->addDownloadFileTaskInQueue(base + "/media/large.bin", target, true, false);
  platform::RunLoop::main()->runUntil([&] { return done || failed; }, platform::seconds(600));
  double elapsed = seconds(start);
  if (failed || !done) std::cerr << "large download failed\n";
  return elapsed;
}

long peakMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

}  // namespace

int main(int argc, char** argv) {
  Options options = parse(argc, argv);
  // Every thread of ours starts from here, and curl from a shell started here.
  bench::pinTo(bench::cores().load);
  bench::printPlacement();
  std::string root = fs::temp_directory_path() / ("download-bench-" + std::to_string(getpid()));
  fs::create_directories(root);
  makeMedia(root, options);
  std::vector<std::string> segments;
  for (int i = 0; i < options.segments; ++i) segments.push_back("seg" + std::to_string(i) + ".ts");
  std::string served = root + "/lectures/bench";

  // curl: the same files, one run each, reusing its connection.
  auto writeConfigs = [&](const std::string& base) {
    std::ofstream config(root + "/segments.curl");
    config << "url = \"" << base << "/media/bench/index.m3u8\"\noutput = \"" << root
           << "/curl/index.m3u8\"\n";
    for (int i = 0; i < options.segments; ++i)
      config << "url = \"" << base << "/media/bench/seg" << i << ".ts\"\noutput = \"" << root
             << "/curl/seg" << i << ".ts\"\n";
    std::ofstream large(root + "/large.curl");
    large << "url = \"" << base << "/media/large.bin\"\noutput = \"" << root
          << "/curl/large.bin\"\n";
  };
  // Each of our rounds starts from a home of its own, with nothing downloaded yet.
  int home = 0;
  auto freshHome = [&] {
    fs::remove_all(root + "/home");
    platform::Paths::setHome(root + "/home/" + std::to_string(home++));
    return root + "/home";
  };

  // One curl run against a server of its own, into an empty folder, removed after the check.
  auto curlRound = [&](const std::string& config, const std::string& servedFolder,
                       const std::vector<std::string>& names) {
    fs::remove_all(root + "/curl");
    fs::create_directories(root + "/curl");
    bench::Outcome outcome;
    {
      ServerProcess server(root);
      writeConfigs(server.base());
      outcome.value = runCurl(root + config) * 1000;
    }
    outcome.result = compareWithServed(root + "/curl", servedFolder, names);
    fs::remove_all(root + "/curl");
    return outcome;
  };
  bench::Harness harness("download");
  char name[96];
  std::snprintf(name, sizeof name, "lecture of %d x %d KiB segments", options.segments,
                options.segmentKiB);
  harness.compare(
      {name, "ms", "DownloadManager", "curl, one run", {"<=", 1.3}, ""},
      [&] {
        std::string folder = freshHome();
        ServerProcess server(root);
        double elapsed = oursLecture(server.base()) * 1000;
        return bench::Outcome{elapsed, compareWithServed(folder, served, segments)};
      },
      [&] { return curlRound("/segments.curl", served, segments); });
  std::snprintf(name, sizeof name, "one file of %d MiB", options.largeMiB);
  harness.compare(
      {name, "ms", "SIDownloadManager", "curl, one run", {"<=", 1.0 / 0.95}, ""},
      [&] {
        std::string folder = freshHome();
        ServerProcess server(root);
        double elapsed = oursLarge(server.base()) * 1000;
        auto outcome =
            bench::Outcome{elapsed, compareWithServed(folder, root + "/lectures", {"large.bin"})};
        fs::remove_all(folder);
        return outcome;
      },
      [&] { return curlRound("/large.curl", root + "/lectures", {"large.bin"}); });
  std::printf("peak memory of this process (ours runs in it): %ld MiB\n", peakMiB());
  fs::remove_all(root);
  return harness.exitCode();
}
