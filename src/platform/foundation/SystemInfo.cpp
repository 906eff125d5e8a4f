#include "platform/foundation/SystemInfo.h"

#include <sys/utsname.h>

namespace platform {

const SystemInfo& SystemInfo::current() {
  // Never destroyed: read by threads that may outlive static destruction.
  static const auto* info = new SystemInfo;
  return *info;
}

SystemInfo::SystemInfo() {
  utsname names{};
  if (uname(&names) != 0) return;
  model_ = names.machine;
  systemName_ = names.sysname;
  systemVersion_ = names.release;
}

}  // namespace platform
