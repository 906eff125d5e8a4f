#include "platform/foundation/DateFormat.h"

#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <vector>

#include "platform/foundation/Clock.h"

namespace platform {

namespace {

const char* kMonthShort[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* kDayShort[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* kDayLong[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                          "Thursday", "Friday", "Saturday"};

// A pattern split into runs of one letter ("yyyy") and literal texts.
struct Token {
  char letter;  // 0 for a literal
  int count;
  std::string literal;
};

std::vector<Token> tokenize(std::string_view pattern) {
  std::vector<Token> tokens;
  for (size_t i = 0; i < pattern.size();) {
    char c = pattern[i];
    if (c == '\'') {
      std::string lit;
      ++i;
      if (i < pattern.size() && pattern[i] == '\'') {
        tokens.push_back({0, 0, "'"});
        ++i;
        continue;
      }
      while (i < pattern.size()) {
        if (pattern[i] == '\'') {
          if (i + 1 < pattern.size() && pattern[i + 1] == '\'') {
            lit += '\'';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        lit += pattern[i++];
      }
      tokens.push_back({0, 0, lit});
    } else if (std::isalpha(static_cast<unsigned char>(c))) {
      int n = 0;
      while (i < pattern.size() && pattern[i] == c) ++n, ++i;
      tokens.push_back({c, n, {}});
    } else {
      tokens.push_back({0, 0, std::string(1, c)});
      ++i;
    }
  }
  return tokens;
}

std::string pad(long value, int width) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%0*ld", width, value);
  return buf;
}

// A time_t as a Date. Dates count nanoseconds in 64 bits (about the years 1678 to 2262); a
// time outside that range is held at the first or last representable date, never wrapped.
Date dateFromTimeT(std::time_t t) {
  constexpr auto kLimit = std::chrono::duration_cast<std::chrono::seconds>(Date::duration::max());
  if (t > kLimit.count()) return Date::max();
  if (t < -kLimit.count()) return Date::min();
  return std::chrono::system_clock::from_time_t(t);
}

std::string offsetText(int offset, bool colon) {
  char sign = offset < 0 ? '-' : '+';
  int a = offset < 0 ? -offset : offset;
  std::string s(1, sign);
  s += pad(a / 3600, 2);
  if (colon) s += ':';
  s += pad(a / 60 % 60, 2);
  return s;
}

}  // namespace

int TimeZone::offsetAt(Date date) const {
  if (offset_) return *offset_;
  std::time_t t = std::chrono::system_clock::to_time_t(date);
  std::tm tm{};
  localtime_r(&t, &tm);
  return static_cast<int>(tm.tm_gmtoff);
}

CalendarFields calendarFields(Date date, TimeZone zone) {
  // Whole seconds and the fraction by integer division of the clock's count: going through
  // whole seconds as a time point would overflow at the earliest representable dates.
  constexpr std::int64_t kTicksPerSecond = Date::period::den / Date::period::num;
  std::int64_t ticks = date.time_since_epoch().count();
  std::int64_t whole = ticks / kTicksPerSecond;
  std::int64_t fraction = ticks % kTicksPerSecond;
  if (fraction < 0) {
    fraction += kTicksPerSecond;
    --whole;
  }
  int ms = static_cast<int>(fraction * 1000 / kTicksPerSecond);
  std::time_t t = static_cast<std::time_t>(whole) + zone.offsetAt(date);
  std::tm tm{};
  gmtime_r(&t, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
          tm.tm_min,         tm.tm_sec,     ms,         tm.tm_wday};
}

std::string formatDate(Date date, std::string_view pattern, TimeZone zone) {
  CalendarFields f = calendarFields(date, zone);
  std::string out;
  for (const Token& t : tokenize(pattern)) {
    switch (t.letter) {
      case 0:
        out += t.literal;
        break;
      case 'y':
        out += t.count == 2 ? pad(f.year % 100, 2) : pad(f.year, t.count);
        break;
      case 'M':
        out += t.count >= 3 ? std::string(kMonthShort[f.month - 1]) : pad(f.month, t.count);
        break;
      case 'd':
        out += pad(f.day, t.count);
        break;
      case 'H':
        out += pad(f.hour, t.count);
        break;
      case 'h':
        out += pad(f.hour % 12 == 0 ? 12 : f.hour % 12, t.count);
        break;
      case 'm':
        out += pad(f.minute, t.count);
        break;
      case 's':
        out += pad(f.second, t.count);
        break;
      case 'S':
        out += pad(f.millisecond, 3).substr(0, t.count);
        break;
      case 'a':
        out += f.hour < 12 ? "AM" : "PM";
        break;
      case 'E':
        out += t.count >= 4 ? kDayLong[f.weekday] : kDayShort[f.weekday];
        break;
      case 'Z':
        out += offsetText(zone.offsetAt(date), t.count >= 5);
        break;
      default:
        out += std::string(t.count, t.letter);
        break;
    }
  }
  return out;
}

std::optional<Date> parseDate(std::string_view text, std::string_view pattern, TimeZone zone) {
  int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0, ms = 0;
  bool pm = false, hasAmPm = false;
  size_t pos = 0;
  // A field of ten or more letters reads as many digits; a number too large for any field
  // means the text is no date.
  auto readNumber = [&](int minDigits, int maxDigits, int& value) {
    size_t start = pos;
    std::int64_t number = 0;
    while (pos < text.size() && pos - start < static_cast<size_t>(maxDigits) &&
           std::isdigit(static_cast<unsigned char>(text[pos]))) {
      number = number * 10 + (text[pos] - '0');
      if (number > INT_MAX) return false;
      ++pos;
    }
    if (pos - start < static_cast<size_t>(minDigits)) return false;
    value = static_cast<int>(number);
    return true;
  };
  for (const Token& t : tokenize(pattern)) {
    bool ok = true;
    int width = t.count == 1 ? 2 : t.count;
    int minDigits = t.count == 1 ? 1 : t.count;
    switch (t.letter) {
      case 0:
        ok = text.substr(pos, t.literal.size()) == t.literal;
        pos += t.literal.size();
        break;
      case 'y':
        ok = readNumber(t.count == 2 ? 2 : 1, t.count == 2 ? 2 : 4, year);
        if (ok && t.count == 2) year += 2000;
        break;
      case 'M':
        if (t.count >= 3) {
          ok = false;
          for (int i = 0; i < 12 && !ok; ++i)
            if (text.substr(pos, 3) == kMonthShort[i]) month = i + 1, pos += 3, ok = true;
        } else {
          ok = readNumber(minDigits, width, month);
        }
        break;
      case 'd':
        ok = readNumber(minDigits, width, day);
        break;
      case 'H':
        ok = readNumber(minDigits, width, hour);
        break;
      case 'h':
        ok = readNumber(minDigits, width, hour);
        break;
      case 'm':
        ok = readNumber(minDigits, width, minute);
        break;
      case 's':
        ok = readNumber(minDigits, width, second);
        break;
      case 'S':
        ok = readNumber(t.count, t.count, ms);
        break;
      case 'a':
        hasAmPm = true;
        if (text.substr(pos, 2) == "PM")
          pm = true, pos += 2;
        else if (text.substr(pos, 2) == "AM")
          pos += 2;
        else
          ok = false;
        break;
      default:
        ok = false;
        break;
    }
    if (!ok || pos > text.size()) return std::nullopt;
  }
  if (pos != text.size()) return std::nullopt;
  if (hasAmPm) hour = hour % 12 + (pm ? 12 : 0);
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
    return std::nullopt;
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  std::time_t asUtc = timegm(&tm);
  Date guess = dateFromTimeT(asUtc);
  // The zone's offset at the wall time; local zones are asked twice around a change of offset.
  std::time_t t = asUtc - zone.offsetAt(guess);
  t = asUtc - zone.offsetAt(dateFromTimeT(t));
  return saturatingAdd(dateFromTimeT(t), std::chrono::milliseconds(ms));
}

}  // namespace platform
