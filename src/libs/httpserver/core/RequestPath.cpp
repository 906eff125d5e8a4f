#include "httpserver/core/RequestPath.h"

#include "httpserver/core/StandardPath.h"
#include "platform/foundation/Utf8.h"

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::string> percentDecoded(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%') {
      if (i + 2 >= text.size()) return std::nullopt;
      int high = hexValue(text[i + 1]);
      int low = hexValue(text[i + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      c = static_cast<char>(high * 16 + low);
      i += 2;
    }
    if (c == '\0') return std::nullopt;
    out += c;
  }
  if (!platform::isValidUtf8(out)) return std::nullopt;
  return out;
}

std::optional<std::string> relativePathOfURI(std::string_view target) {
  target = target.substr(0, target.find('#'));
  target = target.substr(0, target.find('?'));
  std::size_t colon = target.find(':');
  std::size_t slash = target.find('/');
  if (colon != std::string_view::npos && (slash == std::string_view::npos || colon < slash)) {
    if (target.substr(colon + 1, 2) != "//") return std::nullopt;
    std::size_t pathStart = target.find('/', colon + 3);
    target = pathStart == std::string_view::npos ? std::string_view("/") : target.substr(pathStart);
  }
  return percentDecoded(target);
}

std::optional<std::string> pathUnderRoot(const std::string& root, const std::string& relativePath) {
  if (root.empty()) return std::nullopt;
  std::string fullPath = standardizePath(root + "/" + relativePath);
  if (relativePath == "/") fullPath += "/";
  // The trailing separator keeps a sibling folder whose name merely begins with the root's
  // name (root ".../7", request for ".../77/x") outside.
  std::string prefix = root;
  if (prefix.back() != '/') prefix += '/';
  if (fullPath.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
  return fullPath;
}
