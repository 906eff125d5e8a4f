// A container's saved copy as the storage reads it back at start: any bytes in the saved file,
// read and parsed by the storage, expanded as the container sets a resource up, then every macro
// evaluated as an event and the typed getters would. A file that does not parse is the storage's
// failure 2 and one that does not expand is refused; nothing else may stop it, and nothing may
// crash, however deep or large the values it describes.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ScratchHome.h"
#include "platform/foundation/Assert.h"
#include "tagmanager/base/TAGLog.h"
#include "tagmanager/container/TAGResourceStorageImpl.h"
#include "tagmanager/container/TAGResourceUtil.h"
#include "tagmanager/manager/TAGDataLayer.h"
#include "tagmanager/runtime/TAGRuntime.h"
#include "tagmanager/values/TAGTypes.h"

namespace {

constexpr const char* kContainerId = "FUZZ-SAVED";

void writeSavedFile(const std::uint8_t* data, std::size_t size) {
  std::string path = TAGResourceStorageImpl::create(kContainerId)->resourceFilename();
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) std::abort();
  if (size && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ScratchHome home("saved-container-fuzz");
  TAGLog::setLogger(nullptr);
  writeSavedFile(data, size);
  auto outcome = TAGResourceStorageImpl::create(kContainerId)->loadResourceFromDisk();
  if (!outcome.type()) {
    if (outcome.failure() != 2) std::abort();
    return 0;
  }
  std::shared_ptr<const TAGExpandedResource> expanded;
  try {
    expanded = TAGResourceUtil::expandResource(outcome.type()->resource());
  } catch (const platform::Exception& e) {
    if (e.name() != "InvalidResourceException") std::abort();
    return 0;
  }
  auto dataLayer = std::make_shared<TAGDataLayer>();
  dataLayer->push({{"event", platform::Value("e")}, {"s", platform::Value("text")}});
  auto runtime = TAGRuntime::runtimeWithResource(expanded, dataLayer, nullptr, nullptr);
  if (!runtime) std::abort();
  runtime->evaluateTags("e");
  for (const auto& [name, calls] : expanded->macros()) {
    auto result = runtime->evaluateMacroReference(name);
    if (!result || !result->value()) std::abort();
    (void)TAGTypes::valueToObject(result->value());
    (void)TAGTypes::valueToString(result->value());
  }
  return 0;
}
