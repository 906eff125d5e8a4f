#pragma once
// LocalNotification: a notice the application hands the system to show to the user while it is
// not in front (a body text, the title of the action that opens the application, when to show
// it and the application's own values). `Application` keeps a record of the notices it was
// given; nothing is shown on this headless platform. A plain value, so code that only keeps or
// archives one (the request engine) needs nothing of the UI layer.

#include <optional>
#include <string>

#include "platform/foundation/Value.h"

namespace platform {

struct LocalNotification {
  std::optional<std::string> alertBody;
  std::optional<std::string> alertAction;
  // Absent: at once.
  std::optional<Date> fireDate;
  Dictionary userInfo;

  bool operator==(const LocalNotification&) const = default;
};

}  // namespace platform
