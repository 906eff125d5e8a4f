#pragma once
// LectureURL: how the lecture pipeline forms file URLs and local file names. A playlist entry
// or page resource is resolved against the URL of the playlist or page it came from: a full URL
// ("http://...", "https://...") stands as it is, "//host/path" takes the base's scheme,
// "/path" the base's scheme and host, and any other name is joined to the base's folder (the
// base up to its last "/") with "/". Each file is stored under the last path component of its
// URL; names that could not be stored safely ("", ".", "..") are refused.

#include <optional>
#include <string>

class LectureURL {
 public:
  // The base up to, not including, its last "/" (the whole text when it has none).
  static std::string folderOf(const std::string& url);
  // The text after the last "/".
  static std::string fileName(const std::string& url);
  // A name under which a file may be stored in a lecture folder.
  static bool isStorableFileName(const std::string& name);
  // An http or https URL with a host.
  static bool isFetchable(const std::string& url);
  // The URL `reference` names when read from `base`; absent when it names nothing fetchable
  // (empty, or another scheme such as "data:" or "javascript:").
  static std::optional<std::string> resolve(const std::string& base, const std::string& reference);
};
