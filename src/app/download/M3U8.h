#pragma once
// M3U8: the entries of an HLS playlist, in playlist order. Every line that is not blank and does
// not begin with "#" (tags and comments) is one entry, taken without the spaces and tabs around
// it; line ends may be "\n" or "\r\n", and a byte-order mark before the first line is ignored.
// Tag values are not read.
//
// The tag fields (`targetDuration`, `allowCache`, `version`, `mediaSequece`) and `fileName`,
// `rootUrl` are kept from the design for the player screens; nothing sets them yet.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "download/M3U8File.h"

class M3U8 {
 public:
  // Absent text gives a playlist without entries.
  static std::shared_ptr<M3U8> create(const std::optional<std::string>& text);
  // Whether the text is a playlist at all: its first line is "#EXTM3U". Anything else (an error
  // page, a login page put in the way by a captive portal) is not.
  static bool hasPlaylistHeader(const std::string& text);
  // The text with each entry line replaced by `replace(index, entry)` (the entry as `create`
  // gives it, so the blanks around it go too), the index counting entries
  // from 0 in the order `create` lists them. Tags, comments, blank lines and line ends stay as
  // they are; a byte-order mark is dropped.
  static std::string rewriteEntries(
      const std::string& text,
      const std::function<std::string(std::size_t index, const std::string& entry)>& replace);

  const std::vector<std::shared_ptr<M3U8File>>& m3u8Files() const { return _m3u8Files; }

  std::int64_t targetDuration() const { return _targetDuration; }
  std::int64_t allowCache() const { return _allowCache; }
  double version() const { return _version; }
  std::int64_t mediaSequece() const { return _mediaSequece; }
  const std::string& fileName() const { return _fileName; }
  const std::string& rootUrl() const { return _rootUrl; }

 private:
  std::vector<std::shared_ptr<M3U8File>> _m3u8Files;
  std::int64_t _targetDuration = 0;
  std::int64_t _allowCache = 0;
  double _version = 0;
  std::int64_t _mediaSequece = 0;
  std::string _fileName;
  std::string _rootUrl;
};
