#pragma once
// CheckVersionAlertUI: the store version check's alerts and store page on the screens: each alert
// is a platform alert whose answer goes to the check's button handler, and the store page is
// opened through the application. The application installs one at launch
// (`CheckVersion::setUI`). Main thread only.

#include <string>

#include "net/CheckVersionUI.h"

class CheckVersionAlertUI : public CheckVersionUI {
 public:
  void showAlert(const Alert& alert, ButtonHandler onButton) override;
  void openURL(const std::string& url) override;
};
