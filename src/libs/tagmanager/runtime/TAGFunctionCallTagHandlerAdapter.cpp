#include "tagmanager/runtime/TAGFunctionCallTagHandlerAdapter.h"

#include "tagmanager/container/TAGContainer.h"
#include "tagmanager/values/TAGTypes.h"

TAGObject TAGFunctionCallTagHandlerAdapter::evaluate(const std::string& name,
                                                     const TAGCustomParameters& parameters) {
  if (auto container = container_.lock()) {
    if (auto handler = container->functionCallTagHandlerForTag(name)) {
      handler->execute(name, parameters);
    }
  }
  return TAGObject(TAGTypes::defaultString());
}
