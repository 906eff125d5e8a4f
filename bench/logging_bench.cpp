// 250,000 100-byte messages, from one thread and from four, into the file logger and into
// spdlog set up alike: asynchronous, a queue of 1000 that blocks when full, the same line layout
// ("yyyy/MM/dd HH:mm:ss:SSS  text"), files rolled at 1 MiB and none deleted, every line handed to
// the kernel as it is logged. The sides run in alternating rounds; a round counts only once every
// line has reached the files, whole and once, across the rolls.

#include <spdlog/async.h>
#include <spdlog/async_logger.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "BenchHarness.h"
#include "logging/LGFileLogger.h"
#include "logging/LGLog.h"
#include "logging/LGLogFileManagerDefault.h"

namespace {

constexpr int kMessages = 250000;
constexpr int kMessageBytes = 100;
constexpr std::size_t kRollBytes = 1024 * 1024;

namespace fs = std::filesystem;

// "t<thread> n<number> " padded with 'x' to 100 bytes.
std::string messageText(int thread, int number) {
  char head[32];
  int length = std::snprintf(head, sizeof head, "t%d n%d ", thread, number);
  std::string text(head, static_cast<std::size_t>(length));
  text.resize(kMessageBytes, 'x');
  return text;
}

// Runs `send(thread, number)` for every message, split over `threads` threads; seconds taken
// including `finish`, which returns once everything is written.
double timeRun(int threads, const std::function<void(int, int)>& send,
               const std::function<void()>& finish) {
  auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([t, threads, &send] {
      for (int n = 0; n < kMessages / threads; ++n) send(t, n);
    });
  }
  for (auto& w : workers) w.join();
  finish();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Every message must appear once, whole, in one of the folder's files.
bool checkLines(const fs::path& folder, int threads, std::size_t* files) {
  std::vector<std::vector<bool>> seen(threads, std::vector<bool>(kMessages / threads, false));
  std::size_t lines = 0;
  *files = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    ++*files;
    std::ifstream in(entry.path());
    std::string line;
    while (std::getline(in, line)) {
      ++lines;
      auto at = line.find("  t");
      if (at == std::string::npos || line.size() != at + 2 + kMessageBytes) return false;
      int thread = 0, number = 0;
      if (std::sscanf(line.c_str() + at + 2, "t%d n%d", &thread, &number) != 2) return false;
      if (thread >= threads || number >= kMessages / threads || seen[thread][number]) return false;
      seen[thread][number] = true;
    }
  }
  return lines == static_cast<std::size_t>(kMessages);
}

// Messages per second for one run, and what reached the files.
bench::Outcome outcome(double seconds, const fs::path& folder, int threads) {
  std::size_t files = 0;
  bool complete = checkLines(folder, threads, &files);
  return {kMessages / seconds, complete ? std::to_string(kMessages) + " lines, each message once"
                                        : std::string("lines lost or damaged")};
}

bench::Outcome runFileLogger(const fs::path& folder, int threads) {
  auto manager = LGLogFileManagerDefault::create(folder.string());
  manager->setMaximumNumberOfLogFiles(0);  // keep every file, so every line can be counted
  auto logger = LGFileLogger::create(manager);
  logger->setMaximumFileSize(kRollBytes);
  logger->setRollingFrequency(0);
  LGLog::addLogger(logger);
  double seconds = timeRun(
      threads,
      [](int t, int n) {
        std::string text = messageText(t, n);
        LGLog::log(true, LG_LOG_LEVEL_INFO, LG_LOG_FLAG_INFO, 0, __FILE__, __func__, __LINE__,
                   nullptr, "%s", text.c_str());
      },
      [] { LGLog::loggingQueue()->sync([] {}); });
  LGLog::removeLogger(logger);
  LGLog::loggingQueue()->sync([] {});
  logger->loggerQueue()->sync([] {});
  return outcome(seconds, folder, threads);
}

bench::Outcome runSpdlog(const fs::path& folder, int threads) {
  auto sink = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(
      (folder / "spdlog.txt").string(), kRollBytes, 1000);
  auto pool = std::make_shared<spdlog::details::thread_pool>(1000, 1);
  auto logger = std::make_shared<spdlog::async_logger>("bench", sink, pool,
                                                       spdlog::async_overflow_policy::block);
  logger->set_pattern("%Y/%m/%d %H:%M:%S:%e  %v");
  // Our file logger hands every line to the kernel as it writes it; so does spdlog here.
  logger->flush_on(spdlog::level::trace);
  double seconds = timeRun(
      threads, [&logger](int t, int n) { logger->info(messageText(t, n)); },
      [&] {
        // The pool's thread drains the queue before it ends.
        logger.reset();
        pool.reset();
      });
  sink.reset();
  return outcome(seconds, folder, threads);
}

fs::path freshFolder(const fs::path& base, const std::string& name) {
  fs::path folder = base / name;
  fs::remove_all(folder);
  fs::create_directories(folder);
  return folder;
}

}  // namespace

// With arguments, one side only, for profiling: `logging_bench ours|spdlog <threads>`.
int main(int argc, char** argv) {
  fs::path base = fs::temp_directory_path() / ("logging-bench-" + std::to_string(getpid()));
  if (argc == 3) {
    int threads = std::atoi(argv[2]);
    bool ours = std::string(argv[1]) == "ours";
    auto result = ours ? runFileLogger(freshFolder(base, "ours"), threads)
                       : runSpdlog(freshFolder(base, "spdlog"), threads);
    std::printf("%s, %d thread(s): %.0f msg/s, %s\n", argv[1], threads, result.value,
                result.result.c_str());
    fs::remove_all(base);
    return 0;
  }
  bench::Harness harness("logging");
  std::printf("%d messages of %d bytes, files rolled at %zu bytes\n", kMessages, kMessageBytes,
              kRollBytes);
  for (int threads : {1, 4}) {
    bench::Comparison c;
    c.name = std::to_string(threads) + (threads == 1 ? " thread" : " threads") +
             ", 250,000 x 100 B, queue of 1000";
    c.unit = "msg/s";
    c.ours = "LGFileLogger";
    c.peer = "spdlog async";
    c.aim = {">=", 1.0};
    c.note =
        "flush policy, both: every line handed to the kernel (write) as it is logged, no fsync";
    harness.compare(
        c, [&] { return runFileLogger(freshFolder(base, "ours"), threads); },
        [&] { return runSpdlog(freshFolder(base, "spdlog"), threads); });
  }
  fs::remove_all(base);
  return harness.exitCode();
}
