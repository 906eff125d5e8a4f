#include "platform/foundation/SystemLog.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Mutex.h"
#include "platform/foundation/Thread.h"

namespace platform {

namespace {

struct Sink {
  Mutex mutex;
  SystemLog::Handler handler GUARDED_BY(mutex);
};

Sink& sink() {
  // Never destroyed: threads may log while the process exits.
  static auto* s = new Sink;
  return *s;
}

// "2026-01-01 08:00:00.123": the clock's date in the process's local zone.
std::string timestamp() {
  Date now = Clock::shared()->now();
  auto since = now.time_since_epoch();
  auto secs = std::chrono::duration_cast<std::chrono::seconds>(since);
  auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(since - secs).count();
  if (millis < 0) millis += 1000;
  std::time_t t = static_cast<std::time_t>(secs.count());
  std::tm local{};
  localtime_r(&t, &local);
  char text[64];
  std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  std::snprintf(text + n, sizeof text - n, ".%03lld", static_cast<long long>(millis));
  return text;
}

}  // namespace

void SystemLog::write(const std::string& line) {
  Handler handler;
  {
    MutexLock lock(sink().mutex);
    handler = sink().handler;
  }
  if (handler) {
    handler(line);
    return;
  }
  std::string text = timestamp() + " " + program_invocation_short_name + "[" +
                     std::to_string(getpid()) + ":" + std::to_string(Thread::currentId()) + "] " +
                     line + "\n";
  MutexLock lock(sink().mutex);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

SystemLog::Handler SystemLog::setHandler(Handler handler) {
  MutexLock lock(sink().mutex);
  std::swap(sink().handler, handler);
  return handler;
}

struct ScopedSystemLogCapture::State {
  mutable Mutex mutex;
  std::vector<std::string> lines GUARDED_BY(mutex);
};

ScopedSystemLogCapture::ScopedSystemLogCapture() : state_(std::make_shared<State>()) {
  previous_ = SystemLog::setHandler([state = state_](const std::string& line) {
    MutexLock lock(state->mutex);
    state->lines.push_back(line);
  });
}

ScopedSystemLogCapture::~ScopedSystemLogCapture() { SystemLog::setHandler(std::move(previous_)); }

std::vector<std::string> ScopedSystemLogCapture::lines() const {
  MutexLock lock(state_->mutex);
  return state_->lines;
}

bool ScopedSystemLogCapture::contains(const std::string& line) const {
  auto all = lines();
  return std::find(all.begin(), all.end(), line) != all.end();
}

}  // namespace platform
