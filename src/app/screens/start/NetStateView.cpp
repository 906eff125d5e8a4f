#include "screens/start/NetStateView.h"

#include "screens/common/ScreenLook.h"

void NetStateView::addNetState(const std::string& state) {
  if (state != "YES") return;
  std::weak_ptr<NetStateView> weak = std::static_pointer_cast<NetStateView>(shared_from_this());
  observer_ = platform::NotificationCenter::defaultCenter().addObserver(
      kReachableViaWWANNotification, [weak](const platform::Notification&) {
        if (auto self = weak.lock()) self->netChange();
      });
}

void NetStateView::netChange() {
  screenlook::showAlert(std::string("提示"), std::string(), "确定");
}
