// The request engine's text encodings on arbitrary bytes: percent-escaping and unescaping, the
// form, JSON and property-list encodings of a parameter dictionary (the input split into
// "key=value" pairs at "&"), and Base64 both ways. Nothing may throw; escaping then unescaping
// UTF-8 text without "+" gives the text back, and Base64 round-trips any bytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "httpengine/HttpBase64.h"
#include "httpengine/HttpEngineAdditions.h"
#include "httpengine/RequestEncoding.h"
#include "platform/foundation/Utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);

  std::string escaped = HttpEngineAdditions::he_urlEncodedString(text);
  if (escaped.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
                                "-._~%") != std::string::npos)
    std::abort();
  // Unescaping turns "+" into a space, so only text without one comes back as it was.
  if (platform::isValidUtf8(text) && text.find('+') == std::string_view::npos &&
      HttpEngineAdditions::urlDecodedString(escaped) != text)
    std::abort();
  (void)HttpEngineAdditions::urlDecodedString(text);

  platform::Dictionary params;
  std::string_view rest = text;
  while (!rest.empty()) {
    auto amp = rest.find('&');
    std::string_view pair = rest.substr(0, amp);
    rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
    auto equals = pair.find('=');
    std::string key(pair.substr(0, equals));
    if (equals == std::string_view::npos) {
      params[key] = static_cast<std::int64_t>(pair.size());
    } else {
      params[key] = std::string(pair.substr(equals + 1));
    }
  }
  (void)RequestEncoding::urlEncodedKeyValueString(params);
  (void)RequestEncoding::jsonEncodedKeyValueString(params);
  (void)RequestEncoding::plistEncodedKeyValueString(params);

  platform::Bytes bytes(data, data + size);
  if (HttpBase64::dataFromBase64String(HttpBase64::base64EncodedString(bytes)) != bytes)
    std::abort();
  (void)HttpBase64::dataFromBase64String(text);
  return 0;
}
