// The road from a request target to a file path on arbitrary bytes: the target's path is
// decoded strictly and kept under the served folder. A path that comes out must be valid UTF-8
// without NUL bytes, lie inside the root (never a sibling whose name begins with the root's),
// and be standard already: no ".", "..", repeated or trailing separators left to be resolved by
// the system after the check.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "httpserver/core/RequestPath.h"
#include "httpserver/core/StandardPath.h"
#include "platform/foundation/Utf8.h"

namespace {

void check(bool condition) {
  if (!condition) __builtin_trap();
}

bool hasDotComponent(const std::string& path) {
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string_view component = std::string_view(path).substr(start, end - start);
    if (component == "." || component == "..") return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view target(reinterpret_cast<const char*>(data), size);
  std::optional<std::string> decoded = percentDecoded(target);
  if (decoded) check(decoded->find('\0') == std::string::npos && platform::isValidUtf8(*decoded));

  std::optional<std::string> relative = relativePathOfURI(target);
  if (!relative) return 0;
  check(relative->find('\0') == std::string::npos && platform::isValidUtf8(*relative));

  const std::string root = "/srv/7";
  std::optional<std::string> path = pathUnderRoot(root, *relative);
  if (!path) return 0;
  check(path->compare(0, root.size() + 1, root + "/") == 0);
  check(!hasDotComponent(*path));
  check(path->find("//") == std::string::npos);
  if (*relative != "/") check(standardizePath(*path) == *path);
  return 0;
}
