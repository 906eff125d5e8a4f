#include "logging/LGLogMessage.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/dispatch/Queue.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Thread.h"

namespace {

std::optional<std::string> currentQueueLabel() {
  auto queue = platform::dispatch::Queue::current();
  if (!queue) return std::nullopt;
  return queue->label();
}

std::optional<std::string> currentThreadName() {
  std::string name = platform::Thread::currentName();
  if (name.empty()) return std::nullopt;
  return name;
}

}  // namespace

LGLogMessage::LGLogMessage(std::string logMsg, int level, int flag, int context, const char* file,
                           const char* function, int line, platform::Value tag, int options)
    : logLevel_(level),
      logFlag_(flag),
      logContext_(context),
      logMsg_(std::make_shared<const std::string>(std::move(logMsg))),
      timestamp_(platform::Clock::shared()->now()),
      file_(file),
      function_(function),
      lineNumber_(line),
      machThreadID_(static_cast<std::uint32_t>(platform::Thread::currentId())),
      queueLabel_(currentQueueLabel()),
      threadName_(currentThreadName()),
      tag_(std::move(tag)),
      options_(options) {
  if ((options & LGLogMessageCopyFile) && file) {
    fileCopy_ = file;
    file_ = fileCopy_.c_str();
  }
  if ((options & LGLogMessageCopyFunction) && function) {
    functionCopy_ = function;
    function_ = functionCopy_.c_str();
  }
}

std::string LGLogMessage::threadID() const {
  char text[16];
  std::snprintf(text, sizeof text, "%x", machThreadID_);
  return text;
}

std::optional<std::string> LGLogMessage::fileName() const {
  return fileNameWithoutExtension(file_, false);
}

std::optional<std::string> LGLogMessage::methodName() const {
  if (!function_) return std::nullopt;
  return std::string(function_);
}

std::optional<std::string> fileNameWithoutExtension(const char* path, bool /*copy*/) {
  if (!path) return std::nullopt;
  const char* lastSlash = nullptr;
  const char* lastDot = nullptr;
  const char* end = path;
  for (; *end; ++end) {
    if (*end == '/') lastSlash = end;
    if (*end == '.') lastDot = end;
  }
  const char* begin = lastSlash ? lastSlash + 1 : path;
  const char* stop = (lastDot && lastDot >= begin) ? lastDot : end;
  return std::string(begin, stop);
}

char* copyCString(const char* text) {
  if (!text) return nullptr;
  std::size_t length = std::strlen(text) + 1;
  char* copy = static_cast<char*>(std::malloc(length));
  if (copy) std::memcpy(copy, text, length);
  return copy;
}
