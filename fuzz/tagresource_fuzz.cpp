// A tag container as the loaders take it in: bytes parsed as a fetch answer, then expanded. A
// parse or expansion may refuse the input, but only with the exceptions the loaders catch; an
// accepted resource must stay within the bounds the expansion promises, and every expanded value
// must convert, describe and size itself without trouble and match its wire form.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "tagmanager/base/TAGLog.h"
#include "tagmanager/container/TAGPServingRoot.h"
#include "tagmanager/container/TAGResourceUtil.h"
#include "tagmanager/values/TAGTypes.h"
#include "tagmanager/values/TAGValueEscapeUtil.h"

namespace {

void exercise(const TAGPValue::Ref& value) {
  if (value->serializedSize() > TAGResourceUtil::kMaxValueBytes) std::abort();
  (void)TAGTypes::valueToString(value);
  (void)TAGTypes::valueToBoolean(value);
  (void)TAGTypes::valueToNumber(value);
  (void)value->description();
  tagpb::TAGPValue message;
  value->toMessage(&message);
  if (message.ByteSizeLong() != value->serializedSize()) std::abort();
  if (!TAGPValue::fromMessage(message)->isEqual(*value)) std::abort();
  auto holder = TAGPValueAndStatic::valueWithValue(value, true);
  (void)TAGValueEscapeUtil::applyEscapings(value->escapingArray(), holder);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TAGLog::setLogger(nullptr);
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  tagpb::TAGPOptionalResource answer;
  try {
    answer = TAGPServingRoot::parseFromData<tagpb::TAGPOptionalResource>(bytes);
  } catch (const platform::Exception& e) {
    if (e.name() != "InvalidProtocolBufferException" && e.name() != "UninitializedMessageException")
      std::abort();
    return 0;
  }
  std::shared_ptr<const TAGExpandedResource> expanded;
  try {
    expanded = TAGResourceUtil::expandResource(answer.resource());
  } catch (const platform::Exception& e) {
    if (e.name() != "InvalidResourceException") std::abort();
    return 0;
  }
  (void)expanded->description();
  for (const auto& [name, calls] : expanded->macros()) {
    for (const auto& call : calls) {
      for (const auto& [key, value] : call->propertiesMap()) exercise(value);
    }
  }
  for (const auto& rule : expanded->rules()) {
    for (const auto* calls : {&rule->addTags(), &rule->positivePredicates()}) {
      for (const auto& call : *calls) {
        for (const auto& [key, value] : call->propertiesMap()) exercise(value);
      }
    }
  }
  return 0;
}
