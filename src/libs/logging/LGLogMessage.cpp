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
    : _logLevel(level),
      _logFlag(flag),
      _logContext(context),
      _logMsg(std::make_shared<const std::string>(std::move(logMsg))),
      _timestamp(platform::Clock::shared()->now()),
      _file(file),
      _function(function),
      _lineNumber(line),
      _machThreadID(static_cast<std::uint32_t>(platform::Thread::currentId())),
      _queueLabel(currentQueueLabel()),
      _threadName(currentThreadName()),
      _tag(std::move(tag)),
      _options(options) {
  if ((options & LGLogMessageCopyFile) && file) {
    fileCopy_ = file;
    _file = fileCopy_.c_str();
  }
  if ((options & LGLogMessageCopyFunction) && function) {
    functionCopy_ = function;
    _function = functionCopy_.c_str();
  }
}

std::string LGLogMessage::threadID() const {
  char text[16];
  std::snprintf(text, sizeof text, "%x", _machThreadID);
  return text;
}

std::optional<std::string> LGLogMessage::fileName() const {
  return fileNameWithoutExtension(_file, false);
}

std::optional<std::string> LGLogMessage::methodName() const {
  if (!_function) return std::nullopt;
  return std::string(_function);
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
