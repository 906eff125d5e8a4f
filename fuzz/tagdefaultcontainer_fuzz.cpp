// A default container as an application ships it: the bytes read as a JSON file and as a
// property-list file, each turned into constant macros the way the bundle loaders do, then every
// constant read through a runtime as the container's typed getters read it. The only refusal
// allowed is the one the loaders catch (a kind a container cannot hold).

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "platform/foundation/Assert.h"
#include "platform/foundation/PropertyListSerialization.h"
#include "tagmanager/base/TAGLog.h"
#include "tagmanager/container/TAGSerialization.h"
#include "tagmanager/runtime/TAGRuntime.h"
#include "tagmanager/values/TAGTypes.h"

namespace {

void readEveryConstant(const std::shared_ptr<const TAGExpandedResource>& resource) {
  if (!resource || !resource->rules().empty()) std::abort();
  auto runtime = TAGRuntime::runtimeWithResource(resource, nullptr, nullptr, nullptr);
  if (!runtime) std::abort();
  for (const auto& [name, calls] : resource->allMacros()) {
    auto result = runtime->evaluateMacroReference(name);
    if (!result || !result->value()) std::abort();
    (void)TAGTypes::valueToString(result->value());
    (void)TAGTypes::valueToNumber(result->value());
    (void)TAGTypes::valueToBoolean(result->value());
  }
}

template <class Load>
void loadAsTheBundleLoaderDoes(Load&& load) {
  std::shared_ptr<const TAGExpandedResource> resource;
  try {
    resource = load();
  } catch (const platform::Exception& e) {
    if (e.name() != "NotSupportedException") std::abort();
    return;
  }
  readEveryConstant(resource);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TAGLog::setLogger(nullptr);
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  loadAsTheBundleLoaderDoes([&] { return TAGSerialization::expandResourceFromData(bytes); });
  loadAsTheBundleLoaderDoes([&] {
    auto list = platform::PropertyListSerialization::propertyListWithData(bytes, nullptr, nullptr);
    std::optional<platform::Value> dictionary;
    if (list && list->asDictionary()) dictionary = std::move(list);
    return TAGSerialization::expandedResourceFromDeserializedObject(dictionary);
  });
  return 0;
}
