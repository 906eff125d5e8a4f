#pragma once
// AlertViewHttpEngineAdditions: an alert that tells the user of a request's error: titled with the
// error's description, the recovery suggestion (when the error has one) as message, no delegate
// and one cancel button "Dismiss". Main thread only. Nothing in the application calls it.

#include <memory>

#include "platform/foundation/Error.h"
#include "platform/ui/AlertView.h"

class AlertViewHttpEngineAdditions {
 public:
  // Shows the alert and returns it.
  static std::shared_ptr<platform::AlertView> showWithError(const platform::Error& error);
};
