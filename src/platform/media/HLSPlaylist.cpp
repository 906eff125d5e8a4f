#include "platform/media/HLSPlaylist.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

namespace platform {

namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

bool startsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

// The lines of `text` without line ends (LF or CRLF) and surrounding blanks.
std::vector<std::string_view> lines(std::string_view text) {
  if (startsWith(text, "\xEF\xBB\xBF")) text.remove_prefix(3);
  std::vector<std::string_view> out;
  while (!text.empty()) {
    auto end = text.find('\n');
    out.push_back(trim(text.substr(0, end)));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return out;
}

// The duration of an "#EXTINF:<seconds>[,<title>]" line, at most kMaxDuration; absent when it
// is not a finite, non-negative number.
std::optional<double> extinfDuration(std::string_view line) {
  auto value = trim(line.substr(line.find(':') + 1));
  value = trim(value.substr(0, value.find(',')));
  double seconds = 0;
  auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), seconds);
  if (ec != std::errc() || end != value.data() + value.size() || value.empty()) return {};
  if (!std::isfinite(seconds) || seconds < 0) return {};
  return std::min(seconds, HLSPlaylist::kMaxDuration);
}

std::optional<HLSPlaylist> fail(std::string* error, const char* reason) {
  if (error) *error = reason;
  return {};
}

bool hasScheme(const std::string& s) {
  auto colon = s.find(':');
  if (colon == std::string::npos || colon == 0 || !std::isalpha(static_cast<unsigned char>(s[0])))
    return false;
  for (std::size_t i = 1; i < colon; ++i) {
    char c = s[i];
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.')
      return false;
  }
  return true;
}

}  // namespace

std::optional<HLSPlaylist> HLSPlaylist::parse(std::string_view text, std::string* error) {
  auto all = lines(text);
  std::size_t i = 0;
  while (i < all.size() && all[i].empty()) ++i;
  if (i == all.size() || all[i] != "#EXTM3U") return fail(error, "not an HLS playlist");

  HLSPlaylist playlist;
  // The duration of the #EXTINF waiting for its segment line, when `hasPending`.
  double pending = 0;
  bool hasPending = false;
  for (++i; i < all.size(); ++i) {
    auto line = all[i];
    if (line.empty()) continue;
    if (startsWith(line, "#EXT-X-STREAM-INF")) return fail(error, "a master playlist");
    if (startsWith(line, "#EXTINF:")) {
      auto duration = extinfDuration(line);
      if (!duration) return fail(error, "an #EXTINF duration that is not a number");
      pending = *duration;
      hasPending = true;
      continue;
    }
    if (line.front() == '#') continue;  // other tags and comments
    if (!hasPending) return fail(error, "a segment without #EXTINF");
    playlist.segments_.push_back({std::string(line), pending});
    playlist.duration_ = std::min(playlist.duration_ + pending, kMaxDuration);
    hasPending = false;
  }
  if (playlist.segments_.empty()) return fail(error, "a playlist without segments");
  return playlist;
}

std::string HLSPlaylist::resolve(const std::string& base, const std::string& reference) {
  if (hasScheme(reference)) return reference;
  auto schemeEnd = base.find("://");
  if (schemeEnd == std::string::npos) return reference;
  if (startsWith(reference, "//")) return base.substr(0, schemeEnd + 1) + reference;

  auto authorityEnd = base.find_first_of("/?#", schemeEnd + 3);
  std::string origin = base.substr(0, authorityEnd);
  if (startsWith(reference, "/")) return origin + reference;
  if (authorityEnd == std::string::npos || base[authorityEnd] != '/')
    return origin + "/" + reference;

  std::string path = base.substr(0, base.find_first_of("?#", authorityEnd));
  return path.substr(0, path.rfind('/') + 1) + reference;
}

}  // namespace platform
