#pragma once
// The default line of a log file: the message's time ("yyyy/MM/dd HH:mm:ss:SSS" in the local
// time zone unless another date formatter is given), two blanks and the message text.

#include <cstdint>
#include <functional>
#include <string>

#include "logging/LGLogger.h"
#include "platform/foundation/Mutex.h"
#include "platform/foundation/Value.h"

class LGLogFileFormatterDefault : public LGLogFormatter {
 public:
  using DateFormatter = std::function<std::string(platform::Date)>;

  // Without a date formatter, the default pattern in the local time zone.
  explicit LGLogFileFormatterDefault(DateFormatter dateFormatter = nullptr);

  // Never null.
  LGLogText formatLogMessage(const LGLogMessage& message) override;
  // Appends the line formatLogMessage would give to `line`, which a writer can keep and reuse.
  void appendLogLine(const LGLogMessage& message, std::string& line) EXCLUDES(cacheMutex_);

 private:
  // Given, or empty for the default pattern, whose text up to the second is kept per second.
  DateFormatter dateFormatter_;
  // Guarded by cacheMutex_ (a formatter may serve several loggers): the whole second last
  // formatted and its text.
  platform::Mutex cacheMutex_;
  std::int64_t cachedSecond_ GUARDED_BY(cacheMutex_) = 0;
  std::string cachedSecondText_ GUARDED_BY(cacheMutex_);
};
