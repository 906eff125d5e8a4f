#pragma once
// HLSPlaylist: what the movie player needs of an HLS media playlist: its segments (URI and
// duration, in order) and the total duration, the sum of the #EXTINF durations. Parsing refuses
// text that is not a usable media playlist (no header, a duration that is not a finite,
// non-negative number, a segment line without its #EXTINF, no segment at all, a master
// playlist) instead of guessing. Durations are outside input: each one, and the total, is
// clamped to `kMaxDuration`, so the player's timers stay within what a clock can count.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct HLSSegment {
  std::string uri;  // as written in the playlist: absolute or relative to the playlist
  double duration = 0;
  bool operator==(const HLSSegment&) const = default;
};

class HLSPlaylist {
 public:
  // The longest a segment or a whole playlist is taken to last (a week, in seconds): far beyond
  // any lecture, far within a nanosecond clock.
  static constexpr double kMaxDuration = 7 * 24 * 3600.0;

  // The playlist in `text`; absent when it is not usable, with the reason in `error`.
  static std::optional<HLSPlaylist> parse(std::string_view text, std::string* error = nullptr);

  // `reference` (a segment URI) resolved against `base`, the playlist's own URL.
  static std::string resolve(const std::string& base, const std::string& reference);

  const std::vector<HLSSegment>& segments() const { return segments_; }
  double duration() const { return duration_; }

 private:
  std::vector<HLSSegment> segments_;
  double duration_ = 0;
};

}  // namespace platform
