#include "platform/net/HeaderFields.h"

#include <algorithm>
#include <cctype>

namespace platform {

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::vector<HeaderFields::Field>::iterator HeaderFields::find(const std::string& name) {
  return std::find_if(fields_.begin(), fields_.end(),
                      [&](const Field& f) { return equalsIgnoringCase(f.first, name); });
}

std::optional<std::string> HeaderFields::value(const std::string& name) const {
  for (const auto& [key, value] : fields_) {
    if (equalsIgnoringCase(key, name)) return value;
  }
  return std::nullopt;
}

void HeaderFields::set(const std::string& name, std::string value) {
  auto it = find(name);
  if (it == fields_.end()) {
    fields_.emplace_back(name, std::move(value));
    return;
  }
  it->second = std::move(value);
}

void HeaderFields::add(const std::string& name, const std::string& value) {
  auto it = find(name);
  if (it == fields_.end()) {
    fields_.emplace_back(name, value);
    return;
  }
  it->second += ", " + value;
}

void HeaderFields::remove(const std::string& name) {
  auto it = find(name);
  if (it != fields_.end()) fields_.erase(it);
}

}  // namespace platform
