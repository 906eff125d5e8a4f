#include "widgets/ViewControllerMirelTabBarControllerSupport.h"

std::shared_ptr<MirelTabBarController>
ViewControllerMirelTabBarControllerSupport::mirelTabBarController(const platform::ViewController&) {
  return MirelTabBarController::mostRecent();
}
