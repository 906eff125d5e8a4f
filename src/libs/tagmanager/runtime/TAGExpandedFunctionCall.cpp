#include "tagmanager/runtime/TAGExpandedFunctionCall.h"

#include "platform/foundation/Utf16.h"
#include "tagmanager/runtime/TAGExpandedFunctionCallBuilder.h"

TAGExpandedFunctionCallBuilder TAGExpandedFunctionCall::builder() {
  return TAGExpandedFunctionCallBuilder();
}

TAGExpandedFunctionCall::TAGExpandedFunctionCall(TAGPropertyMap propertiesMap)
    : _propertiesMap(std::move(propertiesMap)) {}

std::shared_ptr<TAGExpandedFunctionCall> TAGExpandedFunctionCall::copy() const {
  return std::make_shared<TAGExpandedFunctionCall>(propertiesMap());
}

TAGPropertyMap TAGExpandedFunctionCall::propertiesMap() const {
  platform::MutexLock lock(mutex_);
  return _propertiesMap;
}

TAGPValue::Ref TAGExpandedFunctionCall::propertyForKey(const std::string& key) const {
  platform::MutexLock lock(mutex_);
  auto it = _propertiesMap.find(key);
  return it == _propertiesMap.end() ? nullptr : it->second;
}

void TAGExpandedFunctionCall::updateCacheablePropertyWithValue(TAGPValue::Ref value,
                                                               const std::string& key) {
  platform::MutexLock lock(mutex_);
  _propertiesMap[key] = std::move(value);
}

std::size_t TAGExpandedFunctionCall::approximateByteSize() const {
  std::size_t size = 0;
  for (const auto& [key, value] : propertiesMap()) {
    size += platform::utf16Length(key) + value->serializedSize();
  }
  return size;
}

std::string TAGExpandedFunctionCall::description() const {
  std::string text = "Properties: {";
  for (const auto& [key, value] : propertiesMap()) {
    text += key + " = " + value->description() + "; ";
  }
  return text + "}";
}
