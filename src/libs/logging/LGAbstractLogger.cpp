#include "logging/LGAbstractLogger.h"

#include <cxxabi.h>

#include <cstdlib>
#include <typeinfo>

#include "logging/LGLog.h"
#include "platform/foundation/Assert.h"

using platform::dispatch::Queue;

namespace {

constexpr const char* kArchitectureFailure = "Core architecture requirement failure";
constexpr const char* kDirectAccess = "MUST access ivar directly, NOT via self.* syntax.";

std::string demangle(const char* name) {
  int status = 0;
  char* readable = abi::__cxa_demangle(name, nullptr, nullptr, &status);
  std::string result = (status == 0 && readable) ? readable : name;
  std::free(readable);
  return result;
}

}  // namespace

LGAbstractLogger::~LGAbstractLogger() {
  if (_loggerQueue) _loggerQueue->setSpecific(this, nullptr);
}

void LGAbstractLogger::logMessage(const LGLogMessage&) {}

std::shared_ptr<Queue> LGAbstractLogger::loggingQueue() { return LGLog::loggingQueue(); }

std::shared_ptr<Queue> LGAbstractLogger::loggerQueue() {
  std::call_once(queueOnce_, [this] {
    _loggerQueue = Queue::serial(loggerName().value_or(std::string()));
    _loggerQueue->setSpecific(this, this);
  });
  return _loggerQueue;
}

std::optional<std::string> LGAbstractLogger::loggerName() const {
  return demangle(typeid(*this).name());
}

bool LGAbstractLogger::isOnGlobalLoggingQueue() const { return LGLog::isOnLoggingQueue(); }

bool LGAbstractLogger::isOnInternalLoggerQueue() const {
  return Queue::getCurrentSpecific(this) == this;
}

void LGAbstractLogger::checkSynchronousAccess() const {
  platform::assertThat(!isOnGlobalLoggingQueue(), kArchitectureFailure);
  platform::assertThat(!isOnInternalLoggerQueue(), kDirectAccess);
}

void LGAbstractLogger::checkNotOnLoggingQueue() const {
  platform::assertThat(!isOnGlobalLoggingQueue(), kArchitectureFailure);
}

void LGAbstractLogger::assertOnLoggerQueue([[maybe_unused]] const char* where) const {
#ifndef NDEBUG
  platform::assertThat(isOnInternalLoggerQueue(),
                       std::string(where) + " used off the logger's queue");
#endif
}

void LGAbstractLogger::changeSetting(std::function<void()> change) {
  if (isOnInternalLoggerQueue()) {
    change();
    return;
  }
  checkNotOnLoggingQueue();
  queueThroughLoggingQueue(std::move(change));
}

void LGAbstractLogger::queueThroughLoggingQueue(std::function<void()> change) {
  auto self = shared_from_this();
  auto queue = loggerQueue();
  LGLog::queueOnLoggingQueue(
      [self, queue, change = std::move(change)] { queue->async([self, change] { change(); }); });
}

std::shared_ptr<LGLogFormatter> LGAbstractLogger::logFormatter() {
  return readSetting([this] { return formatter_; });
}

void LGAbstractLogger::setLogFormatter(std::shared_ptr<LGLogFormatter> formatter) {
  checkSynchronousAccess();
  queueThroughLoggingQueue([this, formatter] {
    if (formatter == formatter_) return;
    auto self = shared_from_this();
    if (formatter_) formatter_->willRemoveFromLogger(self);
    formatter_ = formatter;
    if (formatter) formatter->didAddToLogger(self);
  });
}
