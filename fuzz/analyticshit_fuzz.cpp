// Stored hit parameters as the hit store reads them back from its files: a row that does not
// decode answers absent (and is dropped by the store), and a decoded row holds only texts and
// nulls.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "analytics/AnalyticsDataStore.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  for (bool oldStore : {false, true}) {
    auto parameters = AnalyticsDataStore::decodeStoredParameters(text, oldStore);
    if (!parameters) continue;
    for (const auto& [key, value] : *parameters) {
      if (oldStore && (key.empty() || key.front() != '&')) std::abort();
      if (!value.isNull() && !value.asText()) std::abort();
    }
  }
  return 0;
}
