#pragma once
// The default line of a log file: the message's time ("yyyy/MM/dd HH:mm:ss:SSS" in the local
// time zone unless another date formatter is given), two blanks and the message text.

#include <functional>
#include <string>

#include "logging/LGLogger.h"
#include "platform/foundation/Value.h"

class LGLogFileFormatterDefault : public LGLogFormatter {
 public:
  using DateFormatter = std::function<std::string(platform::Date)>;

  // Without a date formatter, the default pattern in the local time zone.
  explicit LGLogFileFormatterDefault(DateFormatter dateFormatter = nullptr);

  // Never null.
  LGLogText formatLogMessage(const LGLogMessage& message) override;

 private:
  DateFormatter dateFormatter_;
};
