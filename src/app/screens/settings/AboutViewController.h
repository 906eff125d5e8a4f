#pragma once
// AboutViewController: the static about page ("关于"): the logo, the brand line, the maker's web
// address and telephone numbers, the version line and two legal-notice lines. No screen opens
// it. Portrait only; main thread only.

#include <optional>
#include <string>

#include "platform/ui/ViewController.h"
#include "screens/common/PortraitOnly.h"

class AboutViewController : public PortraitOnly<platform::ViewController> {
  CH_SHARED_OBJECT(AboutViewController)

 public:
  void viewDidLoad() override;
  void initNavBar();
  // Pops this screen, animated.
  void back();

 protected:
  AboutViewController() = default;
};
