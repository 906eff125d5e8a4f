#pragma once
// ViewControllerMirelTabBarControllerSupport: any screen's way to the main tab screen: the most
// recently made MirelTabBarController, whatever screen asks. Nothing in the application calls
// it; the screens reach the tab screen through the global model.

#include <memory>

#include "platform/ui/ViewController.h"
#include "widgets/MirelTabBarController.h"

class ViewControllerMirelTabBarControllerSupport {
 public:
  static std::shared_ptr<MirelTabBarController> mirelTabBarController(
      const platform::ViewController& controller);
};
