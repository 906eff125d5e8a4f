#pragma once
// BaseViewController: the base of the area selection and login screens. It gives the navigation
// bar its light tint, an orange line along its bottom edge and the application's title, and
// keeps the screen in portrait.

#include <optional>
#include <string>

#include "platform/ui/ViewController.h"
#include "screens/common/PortraitOnly.h"

class BaseViewController : public PortraitOnly<platform::ViewController> {
  CH_SHARED_OBJECT(BaseViewController)

 public:
  // The title every screen of this kind shows in its navigation bar.
  static constexpr const char* kAppTitle = "澄衡会计继续教育";

  void viewDidLoad() override;
  // Tints the bar of the navigation controller the screen is on, adds the orange line to it
  // (once per screen of this kind that loads its view) and installs the title label.
  void initNavBar();

 protected:
  explicit BaseViewController(std::optional<std::string> nibName = std::nullopt)
      : PortraitOnly(std::move(nibName)) {}
};
