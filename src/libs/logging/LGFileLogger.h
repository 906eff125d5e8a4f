#pragma once
// LGFileLogger: writes each message as one line ("\n"-terminated UTF-8) to the current log file
// and rolls to a new file once the file reaches `maximumFileSize` bytes or `rollingFrequency`
// seconds of age. Rolling marks the file archived; the file manager names, lists and deletes the
// files. On start it resumes the newest file when it is still active and under both limits.
//
// Every file operation runs on the logger's queue "logging.fileLogger", as does the roll timer,
// so the logger needs no lock. Operations documented "queue only" must be called there (debug
// builds check it). Nothing in the system attaches a file logger; a host that wants log files
// makes one with `create` and attaches it with `LGLog::addLogger`.

#include <cstdint>
#include <memory>

#include "logging/LGAbstractLogger.h"
#include "logging/LGLogFileInfo.h"
#include "logging/LGLogFileManager.h"
#include "platform/dispatch/Source.h"
#include "platform/foundation/SharedObject.h"

class LGFileLogger : public LGAbstractLogger {
  CH_SHARED_OBJECT(LGFileLogger)
 public:
  // Writes out and closes the current file, without archiving it.
  ~LGFileLogger() override;

  const std::shared_ptr<LGLogFileManager>& logFileManager() const { return _logFileManager; }

  // Bytes; 0 means no size limit. Default 1 MiB.
  std::uint64_t maximumFileSize();
  void setMaximumFileSize(std::uint64_t maximumFileSize);
  // Seconds; 0 or less means no age limit. Default one day.
  double rollingFrequency();
  void setRollingFrequency(double rollingFrequency);

  // Rolls the current file (nothing when none is open).
  void rollLogFile();

  void logMessage(const LGLogMessage& message) override;
  bool implements(Optional operation) const override;
  void willRemoveLogger() override;
  std::optional<std::string> loggerName() const override { return "logging.fileLogger"; }

  // Queue only: the logger's own writing, roll timer and settings run these.
  void scheduleTimerToRollLogFileDueToAge();
  void rollLogFileNow();
  void maybeRollLogFileDueToAge();
  void maybeRollLogFileDueToSize();
  std::shared_ptr<LGLogFileInfo> currentLogFileInfo();
  // The descriptor of the current file, opened for appending; -1 when it cannot be opened.
  int currentLogFileHandle();
  // Whether a roll by age is scheduled.
  bool hasRollingTimer() const;

 private:
  // Without a manager, a default one on the default folder.
  explicit LGFileLogger(std::shared_ptr<LGLogFileManager> logFileManager = nullptr);

  std::shared_ptr<LGFileLogger> self();
  bool isOverLimit(LGLogFileInfo& info) const;
  void archive(LGLogFileInfo& info, bool rolled);
  void cancelRollingTimer();
  // When the current file is due to roll by age; none without a file, a limit or a date.
  std::optional<platform::Date> rollTime();

  // Set before start, read-only after.
  const std::shared_ptr<LGLogFileManager> _logFileManager;

  // Owned by the logger's queue.
  std::shared_ptr<LGLogFileInfo> _currentLogFileInfo;
  int _currentLogFileHandle = -1;
  // The handle's offset in the file, kept as lines are written rather than asked of the kernel.
  std::uint64_t currentOffset_ = 0;
  // The line being written, kept between messages so its storage is reused.
  std::string lineBuffer_;
  std::shared_ptr<platform::dispatch::Source> rollingTimer_;
  std::uint64_t _maximumFileSize = 1048576;
  double _rollingFrequency = 86400;
};
