#pragma once
// DeploymentSetting: one deployment value (a host, a server origin) with a compiled-in default
// that the environment can move, and that a test can override for the process. The override
// wins while set; an empty override returns to the environment, and an unset or empty
// environment variable to the default.
//
// Any thread may read and override.

#include <string>

#include "platform/foundation/Mutex.h"

namespace platform {

class DeploymentSetting {
 public:
  DeploymentSetting(const char* environmentVariable, const char* fallback)
      : variable_(environmentVariable), fallback_(fallback) {}
  DeploymentSetting(const DeploymentSetting&) = delete;
  DeploymentSetting& operator=(const DeploymentSetting&) = delete;

  std::string value() const EXCLUDES(mutex_);
  void setOverride(const std::string& value) EXCLUDES(mutex_);

 private:
  const char* const variable_;
  const char* const fallback_;
  mutable Mutex mutex_;
  std::string override_ GUARDED_BY(mutex_);
};

}  // namespace platform
