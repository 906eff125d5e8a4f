#include "httpserver/core/StandardPath.h"

#include <vector>

std::string standardizePath(std::string_view path) {
  if (path.empty()) return {};
  const bool absolute = path.front() == '/';
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t slash = path.find('/', start);
    if (slash == std::string_view::npos) slash = path.size();
    std::string_view part = path.substr(start, slash - start);
    start = slash + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty() && parts.back() != "..") {
        parts.pop_back();
        continue;
      }
      if (absolute) continue;
    }
    parts.push_back(part);
  }
  std::string out;
  out.reserve(path.size());
  for (std::string_view part : parts) {
    if (absolute || !out.empty()) out += '/';
    out.append(part);
  }
  if (out.empty()) return absolute ? "/" : ".";
  return out;
}
