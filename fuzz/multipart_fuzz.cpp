// The multipart form-data parser on arbitrary bytes: the first byte picks where the body is cut
// in two, the rest is the body under the boundary "b". It must not crash, and a body that is
// accepted whole and in two pieces must give the same parts either way.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "httpserver/core/MultipartFormDataParser.h"

namespace {

// The parts as events: a start with its header, the content (pieces merged), an end. Preamble
// and epilogue are left out, since how they are cut into pieces depends on the input's split;
// events are kept apart from their data, so no byte of a body can pass for a marker.
class Recorder : public MultipartFormDataParserDelegate {
 public:
  void processPreambleData(std::string_view) override {}
  void processStartOfPartWithHeader(const MultipartMessageHeader& header) override {
    parts.emplace_back('S', header.description());
  }
  void processContent(std::string_view data, const MultipartMessageHeader&) override {
    if (parts.empty() || parts.back().first != 'C') parts.emplace_back('C', "");
    parts.back().second += data;
  }
  void processEndOfPartWithHeader(const MultipartMessageHeader&) override {
    parts.emplace_back('E', "");
  }
  void processEpilogueData(std::string_view) override {}
  std::vector<std::pair<char, std::string>> parts;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::string_view body(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::size_t cut = body.empty() ? 0 : data[0] % (body.size() + 1);

  auto whole = std::make_shared<Recorder>();
  MultipartFormDataParser one("b", kMultipartUTF8Encoding);
  one.setDelegate(whole);
  bool wholeOk = one.appendData(body);

  auto split = std::make_shared<Recorder>();
  MultipartFormDataParser two("b", kMultipartUTF8Encoding);
  two.setDelegate(split);
  bool splitOk = two.appendData(body.substr(0, cut)) && two.appendData(body.substr(cut));

  // Refusals depend on what was seen when; outcomes of accepted bodies must agree.
  if (wholeOk && splitOk && whole->parts != split->parts) __builtin_trap();
  return 0;
}
