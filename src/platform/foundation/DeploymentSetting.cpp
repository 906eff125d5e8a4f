#include "platform/foundation/DeploymentSetting.h"

#include <cstdlib>

namespace platform {

std::string DeploymentSetting::value() const {
  {
    MutexLock lock(mutex_);
    if (!override_.empty()) return override_;
  }
  const char* value = std::getenv(variable_);
  return value && *value ? value : fallback_;
}

void DeploymentSetting::setOverride(const std::string& value) {
  MutexLock lock(mutex_);
  override_ = value;
}

}  // namespace platform
