// Lecture downloads against curl: a lecture of many small segments through the whole pipeline
// (DownloadManager, one file at a time), and one large file through the file downloader, both
// from the fake course server on loopback (run as its own process, with connection reuse). The
// peer is one curl run fetching the same files with connection reuse.
//
//   download_bench [--segments N] [--segment-kib K] [--large-mib M]
// Defaults: 500 segments of 64 KiB and one file of 1024 MiB.

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

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
  pid_t pid = fork();
  if (pid == 0) {
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
  std::string root = fs::temp_directory_path() / ("download-bench-" + std::to_string(getpid()));
  fs::create_directories(root);
  platform::Paths::setHome(root + "/home");
  makeMedia(root, options);
  auto [pid, port] = startServer(root);
  std::string base = "http://127.0.0.1:" + std::to_string(port);

  // curl: the same files, one run each, reusing its connection.
  fs::create_directories(root + "/curl");
  {
    std::ofstream config(root + "/segments.curl");
    config << "url = \"" << base << "/media/bench/index.m3u8\"\noutput = \"" << root
           << "/curl/index.m3u8\"\n";
    for (int i = 0; i < options.segments; ++i)
      config << "url = \"" << base << "/media/bench/seg" << i << ".ts\"\noutput = \"" << root
             << "/curl/seg" << i << ".ts\"\n";
    std::ofstream large(root + "/large.curl");
    large << "url = \"" << base << "/media/large.bin\"\noutput = \"" << root
          << "/curl/large.bin\"\n";
  }
  double curlSegments = runCurl(root + "/segments.curl");
  double ourSegments = oursLecture(base);
  fs::remove_all(root + "/curl");
  fs::create_directories(root + "/curl");
  double curlLarge = runCurl(root + "/large.curl");
  fs::remove_all(root + "/curl");
  double ourLarge = oursLarge(base);

  double mib = options.largeMiB;
  std::printf("segments: %d x %d KiB\n", options.segments, options.segmentKiB);
  std::printf("  ours %.3f s, curl %.3f s, ratio %.2fx (aim: within 1.20x)\n", ourSegments,
              curlSegments, ourSegments / curlSegments);
  std::printf("large file: %d MiB\n", options.largeMiB);
  std::printf(
      "  ours %.3f s (%.0f MiB/s), curl %.3f s (%.0f MiB/s), throughput %.0f%% of curl "
      "(aim: 80%%)\n",
      ourLarge, mib / ourLarge, curlLarge, mib / curlLarge, 100.0 * curlLarge / ourLarge);
  std::printf("peak memory of ours: %ld MiB\n", peakMiB());

  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  fs::remove_all(root);
  return 0;
}
