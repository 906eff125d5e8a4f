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

  int logLevel() const { return logLevel_; }
  int logFlag() const { return logFlag_; }
  int logContext() const { return logContext_; }
  const std::string& logMsg() const { return *logMsg_; }
  // The text as a shared object, for formatters that hand the message's own text back.
  const LGLogText& logMsgText() const { return logMsg_; }
  platform::Date timestamp() const { return timestamp_; }
  const char* file() const { return file_; }
  const char* function() const { return function_; }
  int lineNumber() const { return lineNumber_; }
  std::uint32_t machThreadID() const { return machThreadID_; }
  // Absent when the caller ran on no dispatch queue.
  const std::optional<std::string>& queueLabel() const { return queueLabel_; }
  const std::optional<std::string>& threadName() const { return threadName_; }
  const platform::Value& tag() const { return tag_; }
  int options() const { return options_; }

  // The thread id as lower-case hexadecimal text.
  std::string threadID() const;
  // The source file's name without folder and extension; absent without a file.
  std::optional<std::string> fileName() const;
  // The function name; absent without one.
  std::optional<std::string> methodName() const;

 private:
  int logLevel_;
  int logFlag_;
  int logContext_;
  LGLogText logMsg_;
  platform::Date timestamp_;
  const char* file_;
  const char* function_;
  int lineNumber_;
  std::uint32_t machThreadID_;
  std::optional<std::string> queueLabel_;
  std::optional<std::string> threadName_;
  platform::Value tag_;
  int options_;
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
