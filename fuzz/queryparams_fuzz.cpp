// The connection's query parameters on arbitrary bytes: "a=1&b=%41" pairs, each key and value
// percent-decoded strictly. It must not crash, keys come out non-empty valid UTF-8 without NUL
// bytes, a value is null or valid UTF-8, and every key comes from a part of the query that
// holds an "=" after at least one byte.

#include <cstddef>
#include <cstdint>
#include <string>

#include "httpserver/core/HTTPConnection.h"
#include "platform/foundation/Utf8.h"

namespace {

// Reaches the connection's parameter parser, a protected class operation.
struct ParamsAccess : HTTPConnection {
  using HTTPConnection::parseParams;
};

void check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string query(reinterpret_cast<const char*>(data), size);
  platform::Dictionary params = ParamsAccess::parseParams(query);
  std::size_t parts = 1;
  for (char c : query) parts += c == '&';
  check(params.size() <= parts);
  for (const auto& [key, value] : params) {
    check(!key.empty() && key.find('\0') == std::string::npos && platform::isValidUtf8(key));
    if (value.isNull()) continue;
    const std::string* text = value.asText();
    check(text && text->find('\0') == std::string::npos && platform::isValidUtf8(*text));
  }
  return 0;
}
