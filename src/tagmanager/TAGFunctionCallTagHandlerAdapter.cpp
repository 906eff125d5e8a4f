#include "tagmanager/TAGFunctionCallTagHandlerAdapter.h"

#include "tagmanager/TAGContainer.h"
#include "tagmanager/TAGTypes.h"

TAGObject TAGFunctionCallTagHandlerAdapter::evaluate(const std::string& name,
                                                     const TAGCustomParameters& parameters) {
  if (auto container = container_.lock()) {
    if (auto handler = container->functionCallTagHandlerForTag(name)) {
      handler->execute(name, parameters);
    }
  }
  return TAGObject(TAGTypes::defaultString());
}
