#pragma once
// Shared pieces of the logging tests: a logger that records what it is given, a way to wait for
// the logging and logger queues to run what was queued before, and a capture of standard error.

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "logging/LGAbstractLogger.h"
#include "logging/LGLog.h"
#include "logging/LGLogMessage.h"
#include "platform/foundation/Assert.h"
#include "platform/foundation/Mutex.h"
#include "platform/foundation/SharedObject.h"

namespace logtest {

// Records every call on its queue; `onMessage` runs inside logMessage when set.
class RecordingLogger : public LGAbstractLogger {
  CH_SHARED_OBJECT(RecordingLogger)
 public:
  struct Record {
    std::string text;
    std::string queueLabel;
  };

  void logMessage(const LGLogMessage& message) override {
    if (onMessage) onMessage(message);
    platform::MutexLock lock(mutex_);
    events_.push_back("log:" + message.logMsg());
    records_.push_back({message.logMsg(), platform::dispatch::Queue::currentLabel()});
    cv_.notify_all();
  }
  bool implements(Optional operation) const override {
    return operation != Optional::Flush || withFlush;
  }
  void didAddLogger() override { event("didAdd"); }
  void willRemoveLogger() override { event("willRemove"); }
  void flush() override { event("flush"); }
  std::optional<std::string> loggerName() const override { return name; }

  std::vector<std::string> events() {
    platform::MutexLock lock(mutex_);
    return events_;
  }
  std::vector<Record> records() {
    platform::MutexLock lock(mutex_);
    return records_;
  }
  std::vector<std::string> texts() {
    std::vector<std::string> out;
    for (auto& r : records()) out.push_back(r.text);
    return out;
  }
  // Waits (up to a generous real-time limit) until `count` messages have arrived.
  bool waitForMessages(std::size_t count) {
    platform::MutexLock lock(mutex_);
    return cv_.wait_for(lock.native(), std::chrono::seconds(30),
                        [&]() REQUIRES(mutex_) { return records_.size() >= count; });
  }

  std::function<void(const LGLogMessage&)> onMessage;
  bool withFlush = false;
  std::optional<std::string> name = "test.recorder";

 private:
  RecordingLogger() = default;
  void event(const std::string& e) {
    platform::MutexLock lock(mutex_);
    events_.push_back(e);
  }
  platform::Mutex mutex_;
  std::condition_variable cv_;
  std::vector<std::string> events_ GUARDED_BY(mutex_);
  std::vector<Record> records_ GUARDED_BY(mutex_);
};

// Returns once everything queued so far on the logging queue, and then on `queue`, has run.
inline void drain(const std::shared_ptr<platform::dispatch::Queue>& queue) {
  LGLog::loggingQueue()->sync([] {});
  queue->sync([] {});
}

// Detaches every logger and waits until the detaching has run.
inline void detachAll() {
  LGLog::removeAllLoggers();
  LGLog::loggingQueue()->sync([] {});
}

// The text of the assertion `call` fails, or "no failure".
inline std::string failureText(const std::function<void()>& call) {
  try {
    call();
  } catch (const platform::AssertionFailure& failure) {
    return failure.what();
  }
  return "no failure";
}

inline void logText(bool asynchronous, int flag, const std::string& text, int context = 0) {
  LGLog::log(asynchronous, LG_LOG_LEVEL_INFO, flag, context, __FILE__, __func__, __LINE__, nullptr,
             "%s", text.c_str());
}

// Points file descriptor 2 at a pipe while alive; `finish()` restores it and returns what was
// written.
class StderrCapture {
 public:
  StderrCapture() {
    if (pipe(fds_) != 0) throw std::runtime_error("pipe");
    saved_ = dup(STDERR_FILENO);
    dup2(fds_[1], STDERR_FILENO);
    close(fds_[1]);
  }
  ~StderrCapture() { finish(); }
  std::string finish() {
    if (saved_ < 0) return output_;
    dup2(saved_, STDERR_FILENO);
    close(saved_);
    saved_ = -1;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fds_[0], buffer, sizeof buffer)) > 0) output_.append(buffer, n);
    close(fds_[0]);
    return output_;
  }

 private:
  int fds_[2];
  int saved_ = -1;
  std::string output_;
};

}  // namespace logtest
