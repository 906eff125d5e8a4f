// Campaign URLs and queries as the usage analytics reads them: percent decoding, query pieces
// and URL checks must never throw, and whatever they decode must encode and decode back to
// itself.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "analytics/AnalyticsStringUtil.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto decoded = AnalyticsStringUtil::percentDecode(text);
  if (decoded) {
    auto again = AnalyticsStringUtil::percentDecode(AnalyticsStringUtil::percentEncode(*decoded));
    if (again != decoded) std::abort();
  }
  for (const auto& [name, value] : AnalyticsStringUtil::decodeParametersFromQuery(text)) {
    if (!value.asText()) std::abort();
  }
  (void)AnalyticsStringUtil::decodeParametersFromUrl(text);
  (void)AnalyticsStringUtil::urlParams(text);
  return 0;
}
