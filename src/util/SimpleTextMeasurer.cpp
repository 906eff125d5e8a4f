#include "util/SimpleTextMeasurer.h"

#include <cmath>

namespace {

// One unit of layout: a run of ASCII letters (a word), one space, or one non-ASCII character.
struct Token {
  std::string_view text;
  bool isSpace;
  float width;
};

size_t codePointLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC0) return 2;
  return 1;  // a stray continuation byte counts as a character of its own
}

bool isAsciiWordByte(char c) { return static_cast<unsigned char>(c) < 0x80 && c != ' '; }

Token nextToken(std::string_view line, size_t& pos, float fontSize) {
  size_t start = pos;
  auto lead = static_cast<unsigned char>(line[pos]);
  if (line[pos] == ' ') {
    ++pos;
    return {line.substr(start, 1), true, fontSize / 2};
  }
  if (lead >= 0x80) {
    pos = std::min(line.size(), pos + codePointLength(lead));
    return {line.substr(start, pos - start), false, fontSize};
  }
  while (pos < line.size() && isAsciiWordByte(line[pos])) ++pos;
  return {line.substr(start, pos - start), false, (pos - start) * fontSize / 2};
}

// Lines of one paragraph (text without "\n"); an empty paragraph is one line.
int paragraphLines(std::string_view paragraph, float fontSize, float width) {
  int lines = 1;
  float used = 0;
  size_t pos = 0;
  while (pos < paragraph.size()) {
    Token token = nextToken(paragraph, pos, fontSize);
    if (used + token.width <= width) {
      used += token.width;
      continue;
    }
    if (token.isSpace) continue;  // trailing spaces hang past the edge
    if (used > 0) {
      ++lines;
      used = 0;
    }
    if (token.width <= width || static_cast<unsigned char>(token.text[0]) >= 0x80) {
      used = token.width;  // a character wider than the line still takes a line of its own
      continue;
    }
    // A word wider than the line: break it between its (ASCII) characters.
    float glyph = fontSize / 2;
    for (size_t i = 0; i < token.text.size(); ++i) {
      if (used > 0 && used + glyph > width) {
        ++lines;
        used = 0;
      }
      used += glyph;
    }
  }
  return lines;
}

}  // namespace

int SimpleTextMeasurer::lineCount(std::string_view text, float fontSize, float width) {
  if (text.empty() || fontSize <= 0) return 0;
  int lines = 0;
  size_t start = 0;
  while (true) {
    size_t end = text.find('\n', start);
    std::string_view paragraph =
        text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    lines += paragraphLines(paragraph, fontSize, width);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return lines;
}

float SimpleTextMeasurer::heightForText(std::string_view text, float fontSize, float width) const {
  return std::ceil(static_cast<float>(lineCount(text, fontSize, width)) * fontSize * 1.2f);
}
