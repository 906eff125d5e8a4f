#include "analytics/AnalyticsUncaughtExceptionHandler.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "analytics/Analytics.h"
#include "analytics/AnalyticsDictionaryBuilder.h"
#include "analytics/AnalyticsExceptionParser.h"
#include "analytics/AnalyticsLog.h"
#include "analytics/AnalyticsTrackerImpl.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"

namespace {

std::atomic<std::terminate_handler> previousHandler{nullptr};
std::atomic<int> handled{0};
// The kernel id of the thread that reports, so a second exception can tell whether it comes
// from the report itself.
std::atomic<long> reportingThread{0};

// A second exception waits this long (real time) for the first report to end the process.
constexpr auto kBailWait = std::chrono::seconds(30);
// The report's deadline (real time), 10 s: the half of it that the report keeps the run loop
// turning, and as long again. A report still running then is waiting for something that will
// not come (a lock the thrower holds), and the process ends without it. The environment may
// shorten it (CHENGHENG_ANALYTICS_REPORT_SECONDS, a positive number of seconds), so that the
// tests of a crashing child need not wait the whole bound.
constexpr double kDefaultReportBoundSeconds = 10.0;

double reportBoundSeconds() {
  const char* text = std::getenv("CHENGHENG_ANALYTICS_REPORT_SECONDS");
  if (!text || !*text) return kDefaultReportBoundSeconds;
  char* end = nullptr;
  double seconds = std::strtod(text, &end);
  if (*end != '\0' || !(seconds > 0.0) || seconds > kDefaultReportBoundSeconds) {
    return kDefaultReportBoundSeconds;
  }
  return seconds;
}
// Set by whoever hands the process over: the reporting thread or the report's deadline.
std::atomic<bool> handedOver{false};

std::string describe(const std::optional<AnalyticsException>& exception) {
  if (!exception) return "(null)";
  return exception->name + ": " + exception->reason;
}

// Frames of the terminate machinery (this handler, the C++ runtime, the unwinder) sit above the
// throw site: keep the two runtime frames nearest to it, which the description skips as it skips
// the platform's raising frames, and everything from the throw site down.
std::vector<std::string> throwSiteStack(std::vector<std::string> frames) {
  auto isRuntime = [](const std::string& frame) {
    for (const char* mark : {"libstdc++", "libgcc_s", "__cxa_", "_Unwind_"}) {
      if (frame.find(mark) != std::string::npos) return true;
    }
    return false;
  };
  bool seenRuntime = false;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    if (isRuntime(frames[i])) {
      seenRuntime = true;
    } else if (seenRuntime) {
      std::size_t first = i >= 2 ? i - 2 : 0;
      return std::vector<std::string>(frames.begin() + static_cast<std::ptrdiff_t>(first),
                                      frames.end());
    }
  }
  return frames;
}

}  // namespace

void AnalyticsInstallUncaughtExceptionHandler() {
  std::terminate_handler installed = std::get_terminate();
  if (installed == &AnalyticsTerminateHandler) return;
  previousHandler.store(installed);
  std::set_terminate(&AnalyticsTerminateHandler);
}

void AnalyticsRestoreUncaughtExceptionHandler() {
  if (std::get_terminate() != &AnalyticsTerminateHandler) return;
  std::set_terminate(previousHandler.load());
}

namespace {

// True for the first caller in the process; it is then the reporting thread.
bool claimReport() {
  int expected = 0;
  if (!handled.compare_exchange_strong(expected, 1, std::memory_order_seq_cst)) return false;
  reportingThread.store(platform::Thread::currentId());
  return true;
}

void report(const std::optional<AnalyticsException>& exception) {
  if (!exception) return;
  ANALYTICS_LOG_WARNING("Uncaught exception: " + describe(exception));
  std::string description = AnalyticsExceptionParser::exceptionDescription(*exception, 150);
  auto hit = AnalyticsDictionaryBuilder::an_exceptionWithDescription(description, true);
  auto analytics = Analytics::sharedInstance();
  auto tracker = analytics->defaultTracker();
  if (auto impl = std::dynamic_pointer_cast<AnalyticsTrackerImpl>(tracker)) {
    impl->an_sendException(hit->build());
  } else if (tracker) {
    tracker->send(hit->build());
  }
  analytics->dispatch();
  // Keep this thread's run loop turning (request completions come to the main queue) until a
  // pass ends half the report's bound (5 seconds) or more after the start.
  auto clock = platform::Clock::shared();
  auto loop = platform::RunLoop::current();
  auto start = clock->monotonicNow();
  do {
    loop->runOnce(clock->monotonicNow() + platform::seconds(0.01));
  } while (clock->monotonicNow() - start < platform::seconds(reportBoundSeconds() / 2));
}

}  // namespace

void AnalyticsUncaughtExceptionHandler(const std::optional<AnalyticsException>& exception) {
  if (!claimReport()) {
    ANALYTICS_LOG_WARNING("Bailing on multiple uncaught exceptions: " + describe(exception));
    return;
  }
  report(exception);
}

namespace {

// Hands the process to the terminate handler that was there before, or aborts without one. Only
// the first caller does; a later one waits for the process to end (30 s at most) and aborts.
[[noreturn]] void handOver() {
  if (handedOver.exchange(true)) {
    std::this_thread::sleep_for(kBailWait);
    std::abort();
  }
  if (std::terminate_handler previous = previousHandler.load()) previous();
  std::abort();
}

// Ends the process through `handOver` once the report has had its bound, whatever the report
// is waiting for: it may need a lock the thrower holds, and must not keep the process for ever.
void armReportDeadline() {
  try {
    std::thread([bound = std::chrono::duration<double>(reportBoundSeconds())] {
      std::this_thread::sleep_for(bound);
      handOver();
    }).detach();
  } catch (...) {
    // No thread to be had: the report runs without its deadline.
  }
}

}  // namespace

void AnalyticsTerminateHandler() {
  if (!claimReport()) {
    // The report itself failed: end at once.
    if (reportingThread.load() == platform::Thread::currentId()) std::abort();
    // Another thread is reporting: it ends the process once its hit has had time to leave.
    ANALYTICS_LOG_WARNING("Bailing on multiple uncaught exceptions: " +
                          describe(AnalyticsException::current({})));
    std::this_thread::sleep_for(kBailWait);
    std::abort();
  }
  armReportDeadline();
  try {
    report(AnalyticsException::current(throwSiteStack(AnalyticsException::captureCallStack())));
  } catch (...) {
    // Nothing may leave a terminate handler; the process ends below all the same.
  }
  handOver();
}
