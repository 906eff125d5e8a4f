#include "platform/net/URLResponse.h"

#include <algorithm>
#include <cctype>

namespace platform {

namespace {

std::string trim(std::string s) {
  auto notSpace = [](unsigned char c) { return !std::isspace(c); };
  s.erase(s.begin(), std::find_if(s.begin(), s.end(), notSpace));
  s.erase(std::find_if(s.rbegin(), s.rend(), notSpace).base(), s.end());
  return s;
}

std::string lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

std::int64_t URLResponse::expectedContentLength() const {
  // A coded body (gzip, deflate) reaches the delegate decoded: the announced length counts the
  // coded bytes, not those delivered, so the length is unknown.
  auto coding = headers_.value("Content-Encoding");
  if (coding && !trim(*coding).empty() && lower(trim(*coding)) != "identity") return -1;
  auto text = headers_.value("Content-Length");
  if (!text) return -1;
  auto t = trim(*text);
  if (t.empty() || !std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return -1;
  try {
    return std::stoll(t);
  } catch (...) {
    return -1;
  }
}

std::string URLResponse::mimeType() const {
  auto type = headers_.value("Content-Type");
  if (!type) return {};
  return lower(trim(type->substr(0, type->find(';'))));
}

std::string URLResponse::textEncodingName() const {
  auto type = headers_.value("Content-Type");
  if (!type) return {};
  auto text = lower(*type);
  auto at = text.find("charset=");
  if (at == std::string::npos) return {};
  auto value = text.substr(at + 8);
  value = trim(value.substr(0, value.find(';')));
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
    value = value.substr(1, value.size() - 2);
  return value;
}

}  // namespace platform
