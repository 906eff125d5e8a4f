#include "download/DownloadUtil.h"

#include <vector>

#include "platform/foundation/Value.h"

namespace {

std::vector<std::string> splitAtUnderscore(const std::string& key) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (auto found = key.find('_'); found != std::string::npos; found = key.find('_', start)) {
    parts.push_back(key.substr(start, found - start));
    start = found + 1;
  }
  parts.push_back(key.substr(start));
  return parts;
}

}  // namespace

std::string DownloadUtil::getAbsoluteString(const std::string& areaCode, const std::string& year,
                                            const std::string& cwid) {
  return areaCode + "_" + year + "_" + cwid;
}

std::int64_t DownloadUtil::getAbsoluteToRealCWId(const std::string& key) {
  return platform::leadingInteger(splitAtUnderscore(key).back());
}

std::optional<std::string> DownloadUtil::getAbsoluteToRealYear(const std::string& key) {
  auto parts = splitAtUnderscore(key);
  if (parts.size() < 2) return std::nullopt;
  return parts[parts.size() - 2];
}
