#include "platform/foundation/Utf16.h"

#include <unicode/ubrk.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <climits>
#include <memory>

namespace platform {

namespace {

constexpr UChar32 kReplacement = 0xFFFD;

std::u16string toUtf16(std::string_view text) {
  auto size = static_cast<int32_t>(std::min<std::size_t>(text.size(), INT32_MAX));
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  u_strFromUTF8WithSub(nullptr, 0, &length, text.data(), size, kReplacement, nullptr, &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return {};
  std::u16string out(static_cast<std::size_t>(length), u'\0');
  status = U_ZERO_ERROR;
  u_strFromUTF8WithSub(out.data(), length, &length, text.data(), size, kReplacement, nullptr,
                       &status);
  return U_FAILURE(status) ? std::u16string() : out;
}

std::string toUtf8(const char16_t* units, std::size_t count) {
  auto size = static_cast<int32_t>(count);
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  u_strToUTF8WithSub(nullptr, 0, &length, units, size, kReplacement, nullptr, &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return {};
  std::string out(static_cast<std::size_t>(length), '\0');
  status = U_ZERO_ERROR;
  u_strToUTF8WithSub(out.data(), length, &length, units, size, kReplacement, nullptr, &status);
  return U_FAILURE(status) ? std::string() : out;
}

struct BreakIteratorCloser {
  void operator()(UBreakIterator* iterator) const { ubrk_close(iterator); }
};
using CharacterBreaks = std::unique_ptr<UBreakIterator, BreakIteratorCloser>;

CharacterBreaks characterBreaks(const std::u16string& units) {
  UErrorCode status = U_ZERO_ERROR;
  UBreakIterator* iterator =
      ubrk_open(UBRK_CHARACTER, "", units.data(), static_cast<int32_t>(units.size()), &status);
  if (U_FAILURE(status)) return nullptr;
  return CharacterBreaks(iterator);
}

// `range` cut to `size` units, without overflowing on huge lengths.
Utf16Range clamp(Utf16Range range, std::size_t size) {
  std::size_t location = std::min(range.location, size);
  std::size_t length = std::min(range.length, size - location);
  return {location, length};
}

// Whether offset `at` falls between the two halves of a surrogate pair.
bool splitsSurrogatePair(const std::u16string& units, std::size_t at) {
  return at > 0 && at < units.size() && U16_IS_TRAIL(units[at]) && U16_IS_LEAD(units[at - 1]);
}

}  // namespace

std::size_t utf16Length(std::string_view text) { return toUtf16(text).size(); }

Utf16Range rangeOfComposedCharacterSequencesForRange(std::string_view text, Utf16Range range) {
  std::u16string units = toUtf16(text);
  Utf16Range r = clamp(range, units.size());
  if (units.empty()) return {};
  auto breaks = characterBreaks(units);
  if (!breaks) return r;
  UBreakIterator* it = breaks.get();
  // The iterator pins an offset inside a surrogate pair to the pair's start before it looks for
  // a boundary, so widening outwards starts from whole code points.
  auto boundaryAtOrBefore = [&](std::size_t at) {
    if (splitsSurrogatePair(units, at)) --at;
    auto index = static_cast<int32_t>(at);
    return ubrk_isBoundary(it, index) ? at : static_cast<std::size_t>(ubrk_preceding(it, index));
  };
  auto boundaryAtOrAfter = [&](std::size_t at) {
    if (splitsSurrogatePair(units, at)) ++at;
    auto index = static_cast<int32_t>(at);
    return ubrk_isBoundary(it, index) ? at : static_cast<std::size_t>(ubrk_following(it, index));
  };
  std::size_t start = boundaryAtOrBefore(r.location);
  if (r.length == 0) return {start, 0};
  std::size_t end = boundaryAtOrAfter(r.end());
  return {start, end - start};
}

std::string substringWithUtf16Range(std::string_view text, Utf16Range range) {
  std::u16string units = toUtf16(text);
  Utf16Range r = clamp(range, units.size());
  std::size_t start = r.location;
  std::size_t end = r.end();
  if (splitsSurrogatePair(units, start)) --start;
  if (splitsSurrogatePair(units, end)) ++end;
  if (end <= start) return {};
  return toUtf8(units.data() + start, end - start);
}

}  // namespace platform
