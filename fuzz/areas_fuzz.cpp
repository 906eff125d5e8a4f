// A region answer as the region store receives it: decoded JSON (here without the request
// layer's depth limit, so the store's own bound is what stands between a deep answer and the
// stack), stored by `DBService::refreshArea` and read back. Nothing may crash, and every
// operation must leave its result sets closed.
//
// The database lives in a home folder of this process under the system's temporary folder,
// removed when the process ends.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "ScratchHome.h"
#include "dao/DBService.h"
#include "platform/foundation/Paths.h"

namespace {

DBService& store() {
  // Made after the home, so destroyed (closing its connections) before the home is removed.
  static ScratchHome home("areas-fuzz");
  static DBService service;
  static bool ready = [] {
    // Each input rewrites the table; waiting for the disk would only slow the search.
    return service.areaDao()->db() &&
           service.areaDao()->db()->executeUpdate("PRAGMA synchronous=OFF");
  }();
  if (!ready) std::abort();
  return service;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  DBService& service = store();
  std::optional<nlohmann::json> answer =
      nlohmann::json::parse(data, data + size, nullptr, /*allow_exceptions=*/false);
  if (answer->is_discarded()) answer.reset();
  service.refreshArea(answer);
  service.getAreaFromLocalDB();
  if (service.areaDao()->db()->hasOpenResultSets()) __builtin_trap();
  return 0;
}
