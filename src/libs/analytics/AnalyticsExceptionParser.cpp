#include "analytics/AnalyticsExceptionParser.h"

#include <sstream>
#include <vector>

namespace {

// UTF-16 code units of the UTF-8 character starting with `lead`.
std::size_t unitsOf(unsigned char lead) { return lead >= 0xF0 ? 2 : 1; }

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

std::size_t utf16Length(const std::string& text) {
  std::size_t units = 0;
  for (unsigned char c : text) {
    if (!isContinuation(c)) units += unitsOf(c);
  }
  return units;
}

// The longest prefix of `text` of at most `maxUnits` UTF-16 code units, on a character boundary.
std::string utf16Prefix(const std::string& text, std::size_t maxUnits) {
  std::size_t units = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (isContinuation(c)) continue;
    if (units + unitsOf(c) > maxUnits) return text.substr(0, i);
    units += unitsOf(c);
  }
  return text;
}

}  // namespace

std::string AnalyticsExceptionParser::exceptionDescription(const AnalyticsException& exception,
                                                           unsigned maxLength) {
  std::string description = exception.name;
  const auto& lines = exception.callStackSymbols;
  bool traced = false;
  for (std::size_t i = 2; i < lines.size(); ++i) {
    auto symbol = symbolFromStackFrame(lines[i]);
    if (!symbol) continue;
    if (!traced) {
      description += "\nTrace:";
      traced = true;
    }
    description += "\n" + *symbol;
    if (maxLength > 0 && utf16Length(description) >= maxLength) break;
  }
  if (maxLength > 0 && utf16Length(description) > maxLength) {
    description = utf16Prefix(description, maxLength);
  }
  return description;
}

std::optional<std::string> AnalyticsExceptionParser::symbolFromStackFrame(
    const std::string& frame) {
  std::istringstream words(frame);
  std::vector<std::string> parts;
  for (std::string word; words >> word;) parts.push_back(word);
  if (parts.size() < 5) return std::nullopt;
  if (parts[3] == "+[NSException") return std::nullopt;
  if (parts[4] == "+") return parts[3];
  return parts[3] + " " + parts[4];
}
