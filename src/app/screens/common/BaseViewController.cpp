#include "screens/common/BaseViewController.h"

#include "platform/ui/NavigationController.h"
#include "screens/common/ScreenLook.h"

void BaseViewController::viewDidLoad() {
  ViewController::viewDidLoad();
  initNavBar();
}

void BaseViewController::initNavBar() {
  if (auto nav = navigationController()) {
    auto bar = nav->navigationBar();
    bar->setTintColor(screenlook::kLightBand);
    bar->addSubview(screenlook::filledView({0, 42, 1024, 2}, screenlook::kAccentOrange));
  }
  navigationItem().setTitleView(screenlook::titleLabel({0, 0, 200, 44}, kAppTitle));
}
