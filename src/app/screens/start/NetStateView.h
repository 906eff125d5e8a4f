#pragma once
// NetStateView: a small view that, once told "YES", shows an alert whenever the notification
// "ReachableViaWWAN" arrives. Nothing in the application makes one or posts that notification;
// it is kept with the guide it was written beside. Main thread only.

#include <string>

#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/View.h"

// The notification the view listens for (nothing posts it).
inline constexpr const char* kReachableViaWWANNotification = "ReachableViaWWAN";

class NetStateView : public platform::View {
  CH_SHARED_OBJECT(NetStateView)

 public:
  // "YES" starts listening; any other text does nothing.
  void addNetState(const std::string& state);
  // Shows the alert "提示" with an empty message and "确定".
  void netChange();

 protected:
  explicit NetStateView(const platform::Rect& frame = {}) : View(frame) {}

 private:
  platform::ObserverToken observer_;
};
