#pragma once
// One log record, never changed after it is made. It is stamped, when made, with the time, the
// calling thread's kernel id and name, and the label of the dispatch queue the caller runs on.
//
// `file` and `function` only point at the caller's text (which must outlive the message, as
// static text does) unless `options` asks for a copy.

#include <cstdint>
#include <optional>
#include <string>

#include "logging/LGLogger.h"
#include "platform/foundation/Value.h"

// Log flags, one bit per kind of message; a level is a mask of flags.
enum : int {
  LG_LOG_FLAG_ERROR = 1,
  LG_LOG_FLAG_WARN = 2,
  LG_LOG_FLAG_INFO = 4,
  LG_LOG_LEVEL_WARN = LG_LOG_FLAG_ERROR | LG_LOG_FLAG_WARN,
  LG_LOG_LEVEL_INFO = LG_LOG_LEVEL_WARN | LG_LOG_FLAG_INFO,
};

// Options bits: make the message hold its own copy of the file or function text.
enum : int { LGLogMessageCopyFile = 1, LGLogMessageCopyFunction = 2 };

class LGLogMessage {
 public:
  LGLogMessage(std::string logMsg, int level, int flag, int context, const char* file,
               const char* function, int line, platform::Value tag, int options);
  LGLogMessage(const LGLogMessage&) = delete;
  LGLogMessage& operator=(const LGLogMessage&) = delete;

  int logLevel() const { return _logLevel; }
  int logFlag() const { return _logFlag; }
  int logContext() const { return _logContext; }
  const std::string& logMsg() const { return *_logMsg; }
  // The text as a shared object, for formatters that hand the message's own text back.
  const LGLogText& logMsgText() const { return _logMsg; }
  platform::Date timestamp() const { return _timestamp; }
  const char* file() const { return _file; }
  const char* function() const { return _function; }
  int lineNumber() const { return _lineNumber; }
  std::uint32_t machThreadID() const { return _machThreadID; }
  // Absent when the caller ran on no dispatch queue.
  const std::optional<std::string>& queueLabel() const { return _queueLabel; }
  const std::optional<std::string>& threadName() const { return _threadName; }
  const platform::Value& tag() const { return _tag; }
  int options() const { return _options; }

  // The thread id as lower-case hexadecimal text.
  std::string threadID() const;
  // The source file's name without folder and extension; absent without a file.
  std::optional<std::string> fileName() const;
  // The function name; absent without one.
  std::optional<std::string> methodName() const;

 private:
  int _logLevel;
  int _logFlag;
  int _logContext;
  LGLogText _logMsg;
  platform::Date _timestamp;
  const char* _file;
  const char* _function;
  int _lineNumber;
  std::uint32_t _machThreadID;
  std::optional<std::string> _queueLabel;
  std::optional<std::string> _threadName;
  platform::Value _tag;
  int _options;
  // Owned copies of file and function when the options ask for them.
  std::string fileCopy_;
  std::string functionCopy_;
};

// The last path component of `path` without its extension; absent for a null path. A '.' that
// lies before the last '/' is not an extension. `copy` is kept for callers' symmetry: the result
// is always an owned text here.
std::optional<std::string> fileNameWithoutExtension(const char* path, bool copy);

// A newly allocated copy of `text` that the caller frees with free(); null for null.
char* copyCString(const char* text);
