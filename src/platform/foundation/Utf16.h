#pragma once
// Text positions as the platform counts them: a string's length and ranges are in UTF-16 code
// units, and text is cut only between composed character sequences (a base character with its
// combining marks, a surrogate pair, an emoji sequence: what a reader sees as one character),
// so truncating or measuring a prefix never splits one. Our strings are UTF-8; these helpers
// translate. Bytes that are not UTF-8 count as one U+FFFD each.
//
// Safe from any thread.

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

struct Utf16Range {
  std::size_t location = 0;
  std::size_t length = 0;

  std::size_t end() const { return location + length; }
  bool operator==(const Utf16Range&) const = default;
};

// The number of UTF-16 code units of `text`.
std::size_t utf16Length(std::string_view text);

// The smallest range made of whole composed character sequences that covers `range` (clamped to
// the text). An empty range gives an empty range at the start of the sequence holding its
// location.
Utf16Range rangeOfComposedCharacterSequencesForRange(std::string_view text, Utf16Range range);

// The UTF-8 text of the units in `range` (clamped to the text). A range edge inside a surrogate
// pair moves outwards, so the result is always whole characters.
std::string substringWithUtf16Range(std::string_view text, Utf16Range range);

}  // namespace platform
