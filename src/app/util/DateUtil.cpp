#include "util/DateUtil.h"

#include "platform/foundation/Clock.h"
#include "platform/foundation/DateFormat.h"

std::string DateUtil::getCurrDateString() {
  return platform::formatDate(platform::Clock::shared()->now(), platform::kDateTimePattern);
}
