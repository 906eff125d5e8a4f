// The course API client's own readings of the server's answers (the login text and the
// feedback result) on arbitrary text decoded as JSON, as the engine decodes answers. Nothing may
// crash however deep or odd the answer; the login text always has its comma, and its user id is
// "(null)" or a whole decimal integer within int. The raw text is also read as a user id text.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "net/NetworkEngine.h"
#include "platform/foundation/Json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto answer = platform::Json::parse(std::string_view(reinterpret_cast<const char*>(data), size));
  const std::string text = NetworkEngine::loginText(answer);
  const std::size_t comma = text.find(',');
  if (comma == std::string::npos) std::abort();
  const std::string id = text.substr(0, comma);
  if (id != "(null)") {
    auto value = NetworkEngine::wholeInteger(id);
    if (!value || *value < INT32_MIN || *value > INT32_MAX) std::abort();
  }
  NetworkEngine::wholeInteger(std::string_view(reinterpret_cast<const char*>(data), size));
  auto result = NetworkEngine::feedbackResult(answer);
  if (result.size() > 1) std::abort();
  return 0;
}
