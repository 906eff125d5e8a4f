// The movie player's playlist reader on arbitrary text: it must not crash, and whatever it
// accepts must be a playlist the player can schedule: at least one segment, every duration and
// the total finite and within HLSPlaylist::kMaxDuration. Segment references are also resolved
// against a remote playlist URL, as the player does.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/media/HLSPlaylist.h"

namespace {

bool withinLimit(double seconds) {
  return std::isfinite(seconds) && seconds >= 0 && seconds <= platform::HLSPlaylist::kMaxDuration;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string error;
  auto playlist = platform::HLSPlaylist::parse(text, &error);
  if (!playlist) {
    if (error.empty()) __builtin_trap();
    return 0;
  }
  if (playlist->segments().empty() || !withinLimit(playlist->duration())) __builtin_trap();
  double sum = 0;
  for (const auto& segment : playlist->segments()) {
    if (!withinLimit(segment.duration)) __builtin_trap();
    sum += segment.duration;
    auto url =
        platform::HLSPlaylist::resolve("http://127.0.0.1:12345/1_2014_7/index.m3u8", segment.uri);
    if (url.empty()) __builtin_trap();
  }
  if (playlist->duration() > sum) __builtin_trap();
  return 0;
}
