// The WebDAV share's requests on arbitrary headers and XML bodies, against real files in a
// folder of their own: the first byte picks the method, then come header lines ("Name: value",
// up to an empty line) and the body. It must not crash; every XML answer must be well-formed
// (names, owners and timeouts from the request are escaped), and no COPY or MOVE may reach
// outside the served folder, whatever its Destination says.

#include <libxml/parser.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "httpserver/webdav/DAVResponse.h"

namespace {

namespace fs = std::filesystem;

void check(bool condition) {
  if (!condition) __builtin_trap();
}

// base/root is served; base/root2 (a sibling whose name begins with the root's) and
// base/outside.txt must stay as they are.
struct Share {
  fs::path base;
  fs::path root;
  Share() {
    const char* home = std::getenv("CHENGHENG_HOME");
    std::string pattern = (home && *home ? std::string(home) : fs::temp_directory_path().string()) +
                          "/davrequest-XXXXXX";
    fs::create_directories(fs::path(pattern).parent_path());
    base = ::mkdtemp(pattern.data());
    root = base / "root";
    fs::create_directories(base / "root2");
    std::ofstream(base / "outside.txt") << "outside";
  }
  void reset() const {
    fs::remove_all(root);
    fs::create_directories(root / "dir" / "sub");
    std::ofstream(root / "dir" / "a.txt") << "hello";
    std::ofstream(root / "dir" / "sub" / "deep.txt") << "deep";
  }
  bool outsideUntouched() const {
    std::size_t entries = 0;
    for (const auto& entry : fs::directory_iterator(base)) {
      (void)entry;
      ++entries;
    }
    return entries == 3 && fs::is_empty(base / "root2") && fs::file_size(base / "outside.txt") == 7;
  }
};

const Share& share() {
  static const Share* instance = [] {
    auto* made = new Share();
    std::atexit([] {
      std::error_code ignored;
      fs::remove_all(share().base, ignored);
    });
    return made;
  }();
  return *instance;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static const char* const kMethods[] = {"PROPFIND", "LOCK", "UNLOCK", "OPTIONS",
                                         "COPY",     "MOVE", "MKCOL"};
  const std::string method = kMethods[data[0] % 7];
  const std::string resource = (data[0] / 7) % 2 ? "dir" : "dir/a.txt";
  std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);

  DAVResponse::Headers headers;
  for (;;) {
    std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (line.empty()) break;
    std::size_t colon = line.find(':');
    if (colon != std::string_view::npos) {
      std::string_view value = line.substr(colon + 1);
      while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
      headers[std::string(line.substr(0, colon))] = std::string(value);
    }
    if (end == std::string_view::npos) break;
  }
  std::optional<platform::Bytes> body;
  if (!rest.empty()) body = platform::Bytes(rest.begin(), rest.end());

  const Share& files = share();
  files.reset();
  std::shared_ptr<DAVResponse> response =
      DAVResponse::initWithMethod(method, headers, body, resource, files.root.string());
  check(files.outsideUntouched());
  if (!response || response->contentLength() == 0) return 0;
  std::optional<platform::Bytes> xml = response->readDataOfLength(response->contentLength());
  check(xml.has_value());
  xmlDocPtr document = xmlReadMemory(reinterpret_cast<const char*>(xml->data()),
                                     static_cast<int>(xml->size()), "answer.xml", nullptr,
                                     XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  check(document != nullptr);
  xmlFreeDoc(document);
  return 0;
}
