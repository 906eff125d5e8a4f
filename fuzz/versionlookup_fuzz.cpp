// The store's version lookup answer, as the settings screen's version check reads it: any body
// gives the matches' version texts (or none), and comparing each with the bundle's version and
// with itself orders them consistently.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "net/CheckVersion.h"
#include "net/VersionCompare.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view body(reinterpret_cast<const char*>(data), size);
  for (const auto& version : CheckVersion::storeVersions(body)) {
    if (VersionCompare::compare(version, version) != 0) std::abort();
    for (std::string_view local : {"1.0", "2.3.10", "", "10"}) {
      int order = VersionCompare::compare(local, version);
      if (order < -1 || order > 1 || order != -VersionCompare::compare(version, local)) {
        std::abort();
      }
    }
  }
  return 0;
}
