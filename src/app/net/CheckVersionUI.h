#pragma once
// CheckVersionUI: what the store version check needs of the screen layer: showing an alert and
// opening a URL outside the application. The screen layer implements it; tests record the calls.

#include <functional>
#include <optional>
#include <string>
#include <vector>

class CheckVersionUI {
 public:
  // The button the learner chose, by index (the cancel button is 0, the others follow).
  using ButtonHandler = std::function<void(int buttonIndex)>;

  struct Alert {
    std::string title;
    std::optional<std::string> message;
    std::string cancelButtonTitle;
    std::vector<std::string> otherButtonTitles;
  };

  virtual ~CheckVersionUI() = default;
  // Shows `alert`; `onButton` is null for an alert whose answer nobody needs.
  virtual void showAlert(const Alert& alert, ButtonHandler onButton) = 0;
  // Leaves the application for `url` (the store page).
  virtual void openURL(const std::string& url) = 0;
};
