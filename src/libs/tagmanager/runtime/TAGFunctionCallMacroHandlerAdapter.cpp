#include "tagmanager/runtime/TAGFunctionCallMacroHandlerAdapter.h"

#include "tagmanager/container/TAGContainer.h"

TAGObject TAGFunctionCallMacroHandlerAdapter::evaluate(const std::string& name,
                                                       const TAGCustomParameters& parameters) {
  auto container = container_.lock();
  if (!container) return TAGObject();
  auto handler = container->functionCallMacroHandlerForMacro(name);
  return handler ? handler->valueForMacro(name, parameters) : TAGObject();
}
