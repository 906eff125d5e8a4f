#include "widgets/StringTrim.h"

#include "platform/foundation/Utf16.h"
#include "platform/ui/TextMeasurer.h"

using platform::Utf16Range;

namespace {

// The prefix of whole characters covering the first `length` units.
std::string prefix(const std::string& text, std::size_t length) {
  return platform::substringWithUtf16Range(
      text, platform::rangeOfComposedCharacterSequencesForRange(text, {0, length}));
}

}  // namespace

std::string StringTrim::stringByTruncatingToSize(const std::string& text, platform::Size size,
                                                 const platform::Font& font, bool addQuotes) {
  auto heightOf = [&](const std::string& s) {
    if (s.empty()) return 0.0;
    return platform::TextMeasurer::sizeOfText(s, font, {size.width, 0},
                                              platform::LineBreakMode::WordWrap)
        .height;
  };
  const long length = static_cast<long>(platform::utf16Length(text));
  // A prefix fits when its height is at most the box's: an equal height fits too, so a text
  // measured for exactly this box comes back whole.
  long lo = 0, hi = length, best = 0;
  while (lo <= hi) {
    long mid = (lo + hi) / 2;
    if (heightOf(prefix(text, static_cast<std::size_t>(mid))) <= size.height) {
      best = mid;
      lo = mid + 1;
    } else {
      hi = mid - 1;
    }
  }
  std::string result = prefix(text, static_cast<std::size_t>(best));
  std::size_t kept = platform::utf16Length(result);
  std::size_t ellipsis = addQuotes ? 4 : 3;
  if (kept < static_cast<std::size_t>(length) && ellipsis < kept) {
    Utf16Range tail =
        platform::rangeOfComposedCharacterSequencesForRange(result, {kept - ellipsis, ellipsis});
    result = platform::substringWithUtf16Range(result, {0, tail.location}) +
             (addQuotes ? "...\"" : "...");
  }
  return result;
}
