// The course API client's own readings of the server's answers (the login text and the
// feedback result) on arbitrary text decoded as JSON, as the engine decodes answers. Nothing may
// crash however deep or odd the answer; the login text always has its comma.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "net/NetworkEngine.h"
#include "platform/foundation/Json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto answer = platform::Json::parse(std::string_view(reinterpret_cast<const char*>(data), size));
  if (NetworkEngine::loginText(answer).find(',') == std::string::npos) std::abort();
  auto result = NetworkEngine::feedbackResult(answer);
  if (result.size() > 1) std::abort();
  return 0;
}
