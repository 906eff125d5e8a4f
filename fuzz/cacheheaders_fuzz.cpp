// The cache headers of a response ("Cache-Control", "Expires", "Last-Modified", "ETag",
// "Content-Type") and the expiry the engine works out from them, on arbitrary header lines
// ("Name: value", one per line), at an ordinary time and at both ends of what a date holds.
// Nothing may overflow, and an "Expires" the operation computed itself must read back.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "httpengine/HttpEngine.h"
#include "httpengine/HttpOperation.h"
#include "httpengine/RFC1123.h"
#include "platform/net/URLResponse.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  platform::HeaderFields fields;
  while (!text.empty()) {
    auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    auto colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    fields.add(std::string(line.substr(0, colon)), std::string(value));
  }
  platform::URLResponse response("http://h/", 200, fields);
  (void)response.expectedContentLength();
  (void)response.mimeType();
  (void)response.textEncodingName();

  const platform::Date moments[] = {std::chrono::system_clock::from_time_t(1767225600),
                                    platform::Date::min(), platform::Date::max()};
  for (platform::Date now : moments) {
    auto headers = HttpOperation::cacheHeadersForResponse(response, now);
    (void)HttpEngine::expiryInterval(headers, now);
    // An "Expires" that is not the response's own was written by the operation: it must read.
    const platform::Value* expires = platform::find(headers, "Expires");
    const std::string* written = expires ? expires->asText() : nullptr;
    if (written && *written != response.valueForHTTPHeaderField("Expires") &&
        !RFC1123::dateFromRFC1123(*written))
      std::abort();
  }
  return 0;
}
