#include "tagmanager/macros/TAGEventMacro.h"

#include "tagmanager/runtime/TAGRuntime.h"
#include "tagmanager/values/TAGTypes.h"

TAGPValue::Ref TAGEventMacro::evaluate(const TAGPropertyMap&) {
  auto runtime = _runtime.lock();
  if (!runtime) return TAGTypes::defaultValue();
  auto event = runtime->currentEventName();
  if (!event) return TAGTypes::defaultValue();
  return TAGTypes::objectToValue(TAGObject::string(*event));
}
