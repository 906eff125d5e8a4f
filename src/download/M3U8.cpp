#include "download/M3U8.h"

#include <sstream>

std::shared_ptr<M3U8> M3U8::create(const std::optional<std::string>& text) {
  auto playlist = std::make_shared<M3U8>();
  if (!text) return playlist;
  std::string content = *text;
  static const std::string kByteOrderMark = "\xEF\xBB\xBF";
  if (content.rfind(kByteOrderMark, 0) == 0) content.erase(0, kByteOrderMark.size());
  std::istringstream lines(content);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line.front() == '#') continue;
    auto file = std::make_shared<M3U8File>();
    file->setFileName(line);
    playlist->_m3u8Files.push_back(std::move(file));
  }
  return playlist;
}
