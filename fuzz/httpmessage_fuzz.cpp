// The media server's request head parser on arbitrary bytes, fed whole and line by line as the
// connection feeds it: it must not crash, both feedings must agree, and a head it accepts must
// be made of what it promises (a token method, a visible target, an HTTP version, token header
// names, values without control bytes) and read the same when written out again.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "httpserver/core/HTTPMessage.h"

namespace {

bool visible(std::string_view text, bool allowSpace) {
  for (unsigned char c : text) {
    if (c == '\t' || (allowSpace && c == ' ')) continue;
    if (c < 0x21 || c == 0x7f) return false;
  }
  return true;
}

void check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);

  HTTPMessage whole;
  bool wholeOk = whole.appendData(input);

  HTTPMessage lines;
  bool linesOk = true;
  std::size_t start = 0;
  while (linesOk && start < input.size()) {
    std::size_t end = input.find("\r\n", start);
    end = end == std::string_view::npos ? input.size() : end + 2;
    linesOk = lines.appendData(input.substr(start, end - start));
    start = end;
  }
  check(wholeOk == linesOk);
  check(whole.isHeaderComplete() == lines.isHeaderComplete());
  if (!wholeOk || !whole.isHeaderComplete()) return 0;

  check(!whole.method().empty() && visible(whole.method(), false));
  check(whole.url() && !whole.url()->empty() && visible(*whole.url(), false));
  check(whole.version().rfind("HTTP/", 0) == 0);
  check(whole.body() == lines.body());
  for (const auto& [name, value] : whole.allHeaderFields()) {
    check(!name.empty() && visible(name, false) && name.find(':') == std::string::npos);
    check(visible(value, true));
    check(lines.headerField(name) == value);
  }

  HTTPMessage again;
  std::string written = HTTPMessage(whole.method(), *whole.url(), whole.version()).messageData();
  written.resize(written.size() - 2);  // the blank line; the headers follow
  for (const auto& [name, value] : whole.allHeaderFields()) written += name + ": " + value + "\r\n";
  written += "\r\n";
  check(again.appendData(written) && again.isHeaderComplete());
  check(again.method() == whole.method() && again.url() == whole.url() &&
        again.version() == whole.version());
  check(again.allHeaderFields() == whole.allHeaderFields());
  return 0;
}
