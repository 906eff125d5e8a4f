#include "download/M3U8.h"

#include <algorithm>
#include <string_view>

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string_view withoutByteOrderMark(std::string_view text) {
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark)
    text.remove_prefix(kByteOrderMark.size());
  return text;
}

// Calls `visit(line, end)` for each line of `text` (byte-order mark skipped): `line` without its
// line end, `end` the line end as written ("\n", "\r\n" or "" for a last line without one).
template <class Visit>
void forEachLine(std::string_view text, Visit&& visit) {
  text = withoutByteOrderMark(text);
  while (!text.empty()) {
    auto newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    std::size_t endLength = newline == std::string_view::npos ? 0 : 1;
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
      ++endLength;
    }
    visit(line, text.substr(line.size(), endLength));
    text.remove_prefix(std::min(text.size(), line.size() + endLength));
  }
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Players stream playlists whose lines carry blanks around the URI; an entry is what is between
// them.
std::string_view trimmed(std::string_view line) {
  while (!line.empty() && isBlank(line.front())) line.remove_prefix(1);
  while (!line.empty() && isBlank(line.back())) line.remove_suffix(1);
  return line;
}

bool isEntry(std::string_view line) {
  line = trimmed(line);
  return !line.empty() && line.front() != '#';
}

}  // namespace

std::shared_ptr<M3U8> M3U8::create(const std::optional<std::string>& text) {
  auto playlist = std::make_shared<M3U8>();
  if (!text) return playlist;
  forEachLine(*text, [&](std::string_view line, std::string_view) {
    if (!isEntry(line)) return;
    auto file = std::make_shared<M3U8File>();
    file->setFileName(std::string(trimmed(line)));
    playlist->_m3u8Files.push_back(std::move(file));
  });
  return playlist;
}

bool M3U8::hasPlaylistHeader(const std::string& text) {
  std::string_view rest = withoutByteOrderMark(text);
  std::string_view first = rest.substr(0, rest.find('\n'));
  // Trailing blanks are no reason to refuse a playlist; players ignore them too.
  while (!first.empty() && (first.back() == '\r' || first.back() == ' ' || first.back() == '\t'))
    first.remove_suffix(1);
  return first == "#EXTM3U";
}

std::string M3U8::rewriteEntries(
    const std::string& text,
    const std::function<std::string(std::size_t index, const std::string& entry)>& replace) {
  std::string rewritten;
  rewritten.reserve(text.size());
  std::size_t index = 0;
  forEachLine(text, [&](std::string_view line, std::string_view end) {
    if (isEntry(line)) {
      rewritten += replace(index++, std::string(trimmed(line)));
    } else {
      rewritten += line;
    }
    rewritten += end;
  });
  return rewritten;
}
