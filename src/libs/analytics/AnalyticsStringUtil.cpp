#include "analytics/AnalyticsStringUtil.h"

#include <algorithm>
#include <cstdio>

#include "platform/foundation/Utf8.h"

namespace {

bool isTrimmed(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool staysAsIs(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~' || c == '\'';
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Characters a URL may not hold as they are; text holding one is no URL.
bool forbiddenInURL(unsigned char c) {
  return c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '\\' || c == '^' ||
         c == '`' || c == '{' || c == '|' || c == '}';
}

}  // namespace

std::string AnalyticsStringUtil::trim(std::string_view text) {
  while (!text.empty() && isTrimmed(text.front())) text.remove_prefix(1);
  while (!text.empty() && isTrimmed(text.back())) text.remove_suffix(1);
  return std::string(text);
}

std::string AnalyticsStringUtil::intString(std::int64_t value) { return std::to_string(value); }

std::string AnalyticsStringUtil::uintString(std::uint64_t value) { return std::to_string(value); }

std::string AnalyticsStringUtil::decimalString(double value, int decimals) {
  char buffer[512];
  int n = std::snprintf(buffer, sizeof buffer, "%.*f", decimals < 0 ? 0 : decimals, value);
  std::string text(buffer, n < 0 ? 0 : std::min<std::size_t>(n, sizeof buffer - 1));
  if (text.find('.') == std::string::npos) return text;
  while (!text.empty() && text.back() == '0') text.pop_back();
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

std::string AnalyticsStringUtil::currencyMicrosString(std::int64_t micros) {
  const char* sign = micros < 0 ? "-" : "";
  // The magnitude of the most negative amount does not fit a signed integer.
  std::uint64_t magnitude =
      micros < 0 ? 0 - static_cast<std::uint64_t>(micros) : static_cast<std::uint64_t>(micros);
  std::uint64_t whole = magnitude / 1000000;
  char fraction[16];
  std::snprintf(fraction, sizeof fraction, "%06d", static_cast<int>(magnitude % 1000000));
  std::string digits = fraction;
  while (!digits.empty() && digits.back() == '0') digits.pop_back();
  if (digits.empty()) return sign + std::to_string(whole);
  if (whole == 0) return std::string(sign) + "." + digits;
  return sign + std::to_string(whole) + "." + digits;
}

std::string AnalyticsStringUtil::percentEncode(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (staysAsIs(c)) {
      out.push_back(static_cast<char>(c));
    } else if (c == ' ') {
      out.push_back('+');
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    }
  }
  return out;
}

std::optional<std::string> AnalyticsStringUtil::percentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+') {
      out.push_back(' ');
    } else if (c == '%') {
      if (i + 2 >= text.size()) return std::nullopt;
      int high = hexDigit(text[i + 1]);
      int low = hexDigit(text[i + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      out.push_back(static_cast<char>(high * 16 + low));
      i += 2;
    } else {
      out.push_back(c);
    }
  }
  if (!platform::isValidUtf8(out)) return std::nullopt;
  return out;
}

platform::Dictionary AnalyticsStringUtil::decodeParametersFromQuery(std::string_view query) {
  platform::Dictionary parameters;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = query.find('&', start);
    std::string_view piece =
        query.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    std::size_t equals = piece.find('=');
    auto name = percentDecode(piece.substr(0, equals));
    auto value = equals == std::string_view::npos ? std::optional<std::string>("")
                                                  : percentDecode(piece.substr(equals + 1));
    if (name && value) parameters[*name] = *value;
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return parameters;
}

std::optional<platform::Dictionary> AnalyticsStringUtil::decodeParametersFromUrl(
    std::string_view text) {
  if (text.empty()) return std::nullopt;
  for (unsigned char c : text) {
    if (forbiddenInURL(c)) return std::nullopt;
  }
  std::size_t question = text.find('?');
  if (question == std::string_view::npos) return platform::Dictionary{};
  std::string_view query = text.substr(question + 1);
  query = query.substr(0, query.find('#'));
  if (query.empty()) return platform::Dictionary{};
  return decodeParametersFromQuery(query);
}

std::string AnalyticsStringUtil::urlParams(std::string_view text) {
  std::size_t question = text.find('?');
  if (question == std::string_view::npos) return {};
  return std::string(text.substr(question + 1));
}

std::string AnalyticsStringUtil::stripLeadingAmpersand(std::string_view text) {
  if (!text.empty() && text.front() == '&') text.remove_prefix(1);
  return std::string(text);
}
