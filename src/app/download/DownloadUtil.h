#pragma once
// DownloadUtil: the download key of a lecture, "<area code>_<year>_<lecture id>". The key names
// the lecture in the download queue, names its folder under the user's download folder and tags
// the download notifications. Parsing counts from the end, so an area code that itself holds "_"
// still parses.

#include <cstdint>
#include <optional>
#include <string>

class DownloadUtil {
 public:
  static std::string getAbsoluteString(const std::string& areaCode, const std::string& year,
                                       const std::string& cwid);
  // The integer value of the last "_"-separated part (0 when it holds no number).
  static std::int64_t getAbsoluteToRealCWId(const std::string& key);
  // The second-to-last "_"-separated part; absent for a key with fewer than two parts.
  static std::optional<std::string> getAbsoluteToRealYear(const std::string& key);
};
