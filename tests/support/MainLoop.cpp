#include "support/MainLoop.h"

#include "platform/foundation/RunLoop.h"

namespace testsupport {

bool runUntil(const std::function<bool()>& predicate, double seconds) {
  return platform::RunLoop::main()->runUntil(predicate, platform::seconds(seconds));
}

}  // namespace testsupport
