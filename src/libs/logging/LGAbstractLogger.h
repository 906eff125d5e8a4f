#pragma once
// LGAbstractLogger: the base of the framework's loggers. It owns a serial queue, labelled with
// `loggerName()`, on which the dispatcher calls it, and a formatter that lives on that queue.
//
// Settings live on the logger's queue. Code on that queue (logMessage, timers, internal steps)
// reads and writes the fields directly; other code goes through the accessors, which read
// synchronously through the logging queue and then the logger's queue, and change
// asynchronously along the same road, so a read sees every change queued before it. Calling an
// accessor on the logging queue or on the logger's own queue could never finish, so it fails an
// assertion instead.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "logging/LGLogger.h"
#include "platform/dispatch/Queue.h"

class LGAbstractLogger : public LGLogger, public std::enable_shared_from_this<LGAbstractLogger> {
 public:
  ~LGAbstractLogger() override;

  void logMessage(const LGLogMessage& message) override;
  std::shared_ptr<LGLogFormatter> logFormatter() override;
  void setLogFormatter(std::shared_ptr<LGLogFormatter> formatter) override;

  // Made on first use, labelled with `loggerName()`, and marked with this logger as its
  // queue-specific key.
  std::shared_ptr<platform::dispatch::Queue> loggerQueue() override;
  // The class name; the concrete loggers give fixed names.
  std::optional<std::string> loggerName() const override;

  bool isOnGlobalLoggingQueue() const;
  bool isOnInternalLoggerQueue() const;

 protected:
  // Loggers hand themselves to queued work, so they live in a shared_ptr from birth: each
  // concrete logger has a static factory.
  LGAbstractLogger() = default;

  // Fails an assertion unless the caller may hop synchronously onto the logger's queue.
  void checkSynchronousAccess() const;
  // Fails an assertion on the logging queue (where an asynchronous change would be misordered
  // against the messages being delivered).
  void checkNotOnLoggingQueue() const;
  // Debug builds: fails an assertion naming `where` unless the caller runs on the logger's own
  // queue, where every operation that touches the logger's state belongs.
  void assertOnLoggerQueue(const char* where) const;
  // Runs `read` on the logger's queue, behind every change already queued.
  template <class F>
  auto readSetting(F&& read) -> decltype(read()) {
    checkSynchronousAccess();
    auto queue = loggerQueue();
    using R = decltype(read());
    std::optional<R> value;
    loggingQueue()->sync([&] { queue->sync([&] { value.emplace(read()); }); });
    return std::move(*value);
  }
  // Runs `change` on the logger's queue: at once when already there, otherwise queued through
  // the logging queue. The logger stays alive until it has run.
  void changeSetting(std::function<void()> change);
  // Queues `change` through the logging queue onto the logger's queue, keeping the logger alive
  // until it has run; the caller has made its queue checks.
  void queueThroughLoggingQueue(std::function<void()> change);

  static std::shared_ptr<platform::dispatch::Queue> loggingQueue();

  // Owned by the logger's queue.
  std::shared_ptr<LGLogFormatter> formatter_;

 private:
  // Made once, on first use (queueOnce_), read-only after.
  std::once_flag queueOnce_;
  std::shared_ptr<platform::dispatch::Queue> _loggerQueue;
};
