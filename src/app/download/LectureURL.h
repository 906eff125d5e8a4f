#pragma once
// LectureURL: how the lecture pipeline forms file URLs and local file names. A playlist entry
// or page resource is resolved against the URL of the playlist or page it came from: a full URL
// ("http://...", "https://...") stands as it is, "//host/path" takes the base's scheme,
// "/path" the base's scheme and host, and any other name is joined to the base's folder (the
// base up to its last "/") with "/". Each file is stored under the last component of its URL's
// path (query and fragment left out); names that could not be stored safely ("", ".", "..") are
// refused.

#include <cstddef>
#include <optional>
#include <string>

class LectureURL {
 public:
  // The longest file name, in bytes, the file systems we store on accept.
  static constexpr std::size_t kMaxFileNameBytes = 255;

  // The text after the last "/".
  static std::string fileName(const std::string& url);
  // The last component of the URL's path: the text after the last "/" before any query ("?")
  // or fragment ("#"). A stored file must not take those along: a player or browser reading
  // "0.ts?token=1" from a playlist or page asks for "0.ts".
  static std::string pathFileName(const std::string& url);
  // A name under which a file may be stored in a lecture folder: not empty, "." or "..", and
  // free of control characters.
  static bool isStorableFileName(const std::string& name);
  // `name` cut to at most `limit` bytes (at least 32): the end of its stem goes, its extension
  // (up to 16 bytes) and whole UTF-8 characters stay. Names that fit are returned unchanged.
  static std::string fitFileName(const std::string& name, std::size_t limit);
  // An http or https URL with a host.
  static bool isFetchable(const std::string& url);
  // The URL `reference` names when read from `base`; absent when it names nothing fetchable
  // (empty, or another scheme such as "data:" or "javascript:").
  static std::optional<std::string> resolve(const std::string& base, const std::string& reference);

 private:
  // The base up to, not including, its last "/" (the whole text when it has none).
  static std::string folderOf(const std::string& url);
};
