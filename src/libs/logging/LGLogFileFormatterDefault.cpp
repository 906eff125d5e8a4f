#include "logging/LGLogFileFormatterDefault.h"

#include <limits>

#include "logging/LGLogMessage.h"
#include "platform/foundation/DateFormat.h"

LGLogFileFormatterDefault::LGLogFileFormatterDefault(DateFormatter dateFormatter)
    : dateFormatter_(std::move(dateFormatter)) {}

LGLogText LGLogFileFormatterDefault::formatLogMessage(const LGLogMessage& message) {
  std::string line;
  appendLogLine(message, line);
  return std::make_shared<const std::string>(std::move(line));
}

void LGLogFileFormatterDefault::appendLogLine(const LGLogMessage& message, std::string& line) {
  const std::string& text = message.logMsg();
  using Ticks = platform::Date::duration;
  constexpr std::int64_t kTicksPerSecond = Ticks::period::den / Ticks::period::num;
  std::int64_t ticks = message.timestamp().time_since_epoch().count();
  // The earliest representable second cannot be made a date of its own: formatted whole.
  if (dateFormatter_ || ticks < std::numeric_limits<std::int64_t>::min() + kTicksPerSecond) {
    std::string date = dateFormatter_
                           ? dateFormatter_(message.timestamp())
                           : platform::formatDate(message.timestamp(), "yyyy/MM/dd HH:mm:ss:SSS");
    line.reserve(line.size() + date.size() + 2 + text.size() + 1);
    line.append(date).append("  ").append(text);
    return;
  }
  // The date changes once a second but is written on every line: its text up to the second is
  // made once a second, and only the milliseconds per line.
  std::int64_t second = ticks / kTicksPerSecond;
  std::int64_t fraction = ticks % kTicksPerSecond;
  if (fraction < 0) {
    fraction += kTicksPerSecond;
    --second;
  }
  int millisecond = static_cast<int>(fraction * 1000 / kTicksPerSecond);
  platform::MutexLock lock(cacheMutex_);
  if (cachedSecondText_.empty() || second != cachedSecond_) {
    platform::Date whole{Ticks(second * kTicksPerSecond)};
    cachedSecondText_ = platform::formatDate(whole, "yyyy/MM/dd HH:mm:ss");
    cachedSecond_ = second;
  }
  // Room for the line and the newline a file writer adds.
  line.reserve(line.size() + cachedSecondText_.size() + 4 + 2 + text.size() + 1);
  line.append(cachedSecondText_);
  char tail[6] = {':',
                  static_cast<char>('0' + millisecond / 100),
                  static_cast<char>('0' + millisecond / 10 % 10),
                  static_cast<char>('0' + millisecond % 10),
                  ' ',
                  ' '};
  line.append(tail, sizeof tail).append(text);
}
