// The multipart form-data parser on arbitrary bytes: the first byte picks where the body is cut
// in two, the rest is the body under the boundary "b". It must not crash, and a body that is
// accepted whole and in two pieces must give the same parts either way.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "httpserver/core/MultipartFormDataParser.h"

namespace {

class Recorder : public MultipartFormDataParserDelegate {
 public:
  void processPreambleData(std::string_view data) override { log += "P" + std::string(data); }
  void processStartOfPartWithHeader(const MultipartMessageHeader& header) override {
    log += "S" + header.description();
  }
  void processContent(std::string_view data, const MultipartMessageHeader&) override {
    log += std::string(data);
  }
  void processEndOfPartWithHeader(const MultipartMessageHeader&) override { log += "E"; }
  void processEpilogueData(std::string_view data) override { log += "Z" + std::string(data); }
  std::string log;
};

// Content pieces are merged by the log; preamble and epilogue markers may repeat per piece, so
// only the parts are compared.
std::string parts(const std::string& log) {
  std::string out;
  bool inPreambleOrEpilogue = false;
  for (char c : log) {
    if (c == 'P' || c == 'Z') inPreambleOrEpilogue = true;
    if (c == 'S') inPreambleOrEpilogue = false;
    if (!inPreambleOrEpilogue) out += c;
  }
  return out;
}

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
  if (wholeOk && splitOk && parts(whole->log) != parts(split->log)) __builtin_trap();
  return 0;
}
