// Compressed request bodies as the usage analytics expands them: any bytes either inflate or
// answer absent, and what they inflate to deflates and inflates back to itself.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "analytics/AnalyticsDeflate.h"
#include "platform/foundation/SystemLog.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Failures write a system-log line each; keep them out of the fuzzer's output.
  static const bool quiet = [] {
    platform::SystemLog::setHandler([](const std::string&) {});
    return true;
  }();
  (void)quiet;
  for (bool raw : {false, true}) {
    auto inflated = AnalyticsDeflate::an_dataByInflatingBytes(data, size, raw);
    if (!inflated || inflated->empty()) continue;
    auto packed = AnalyticsDeflate::an_dataByGzippingData(*inflated);
    if (!packed || AnalyticsDeflate::an_dataByInflatingData(*packed) != inflated) std::abort();
  }
  return 0;
}
