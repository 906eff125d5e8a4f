// A tag container as the network delivers it, evaluated: every tag rule for an event and every
// macro by name, against a data layer with a few values. Evaluation must never throw, must
// answer a value for every macro, and must end within its depth and step budgets however the
// container's macros, predicates and regular expressions refer to one another.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "tagmanager/base/TAGLog.h"
#include "tagmanager/container/TAGPServingRoot.h"
#include "tagmanager/container/TAGResourceUtil.h"
#include "tagmanager/manager/TAGDataLayer.h"
#include "tagmanager/runtime/TAGRuntime.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TAGLog::setLogger(nullptr);
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::shared_ptr<const TAGExpandedResource> expanded;
  try {
    auto answer = TAGPServingRoot::parseFromData<tagpb::TAGPOptionalResource>(bytes);
    expanded = TAGResourceUtil::expandResource(answer.resource());
  } catch (const platform::Exception&) {
    return 0;  // refused before evaluation: the resource fuzz target covers this ground
  }
  auto dataLayer = std::make_shared<TAGDataLayer>();
  dataLayer->push({{"event", platform::Value("e")},
                   {"a", platform::Dictionary{{"b", platform::Value(5)}}},
                   {"s", platform::Value("text")}});
  auto runtime = TAGRuntime::runtimeWithResource(expanded, dataLayer, nullptr, nullptr);
  if (!runtime) std::abort();
  runtime->evaluateTags("e");
  for (const auto& [name, calls] : expanded->macros()) {
    auto result = runtime->evaluateMacroReference(name);
    if (!result || !result->value()) std::abort();
  }
  return 0;
}
