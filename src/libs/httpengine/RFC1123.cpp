#include "httpengine/RFC1123.h"

#include <locale.h>
#include <time.h>

#include <cstring>

#include "httpengine/SaturatingDate.h"

namespace {

locale_t posixLocale() {
  static locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return locale;
}

// Parses `text` whole with `format`; true on success.
bool parse(const std::string& text, const char* format, tm& fields) {
  std::memset(&fields, 0, sizeof fields);
  fields.tm_isdst = -1;
  const char* end = strptime_l(text.c_str(), format, &fields, posixLocale());
  // Whole: a zero byte inside the text must not end it early.
  return end && end == text.c_str() + text.size();
}

}  // namespace

std::optional<platform::Date> RFC1123::dateFromRFC1123(const std::string& text) {
  tm fields;
  // The zone names of HTTP dates are GMT (or UTC); they are read as universal time.
  if (parse(text, "%a, %d %b %Y %H:%M:%S %Z", fields) ||
      parse(text, "%A, %d-%b-%y %H:%M:%S %Z", fields)) {
    fields.tm_isdst = 0;
    return SaturatingDate::fromSeconds(timegm(&fields));
  }
  if (parse(text, "%a %b %e %H:%M:%S %Y", fields)) {
    return SaturatingDate::fromSeconds(mktime(&fields));
  }
  return std::nullopt;
}

std::optional<std::string> RFC1123::rfc1123String(platform::Date date) {
  time_t seconds = SaturatingDate::toSeconds(date);
  tm fields;
  if (!gmtime_r(&seconds, &fields)) return std::nullopt;
  char buffer[32];
  if (strftime_l(buffer, sizeof buffer, "%a, %d %b %Y %H:%M:%S GMT", &fields, posixLocale()) == 0)
    return std::nullopt;
  return std::string(buffer);
}
