#pragma once
// AnalyticsTrackedViewController: a screen that sends a screen-view hit each time its view has
// appeared. It sets "&cd" to `screenName` on its tracker (the default tracker unless one is
// set), where the name stays for the tracker's later hits, and sends an "appview" hit, rate
// limited like any other. Without a screen name it logs "Tracked view controller missing view
// name." at info level and sends nothing; without any tracker it does nothing.
//
// The application's course-list screen derives from it but sends its screen view itself.
// Main thread only, as every screen.

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/SharedObject.h"
#include "platform/ui/ViewController.h"

class AnalyticsTracker;

class AnalyticsTrackedViewController : public platform::ViewController {
  CH_SHARED_OBJECT(AnalyticsTrackedViewController)

 public:
  void viewDidAppear(bool animated) override;

  // Not owned.
  std::shared_ptr<AnalyticsTracker> tracker() const { return _tracker.lock(); }
  void setTracker(const std::shared_ptr<AnalyticsTracker>& tracker) { _tracker = tracker; }
  const std::optional<std::string>& screenName() const { return _screenName; }
  void setScreenName(std::optional<std::string> screenName) { _screenName = std::move(screenName); }

 protected:
  explicit AnalyticsTrackedViewController(std::optional<std::string> nibName = std::nullopt)
      : ViewController(std::move(nibName)) {}

 private:
  std::weak_ptr<AnalyticsTracker> _tracker;
  std::optional<std::string> _screenName;
};
