#include "screens/common/ScreenHUD.h"

#include "alerts/NoticeHUDView.h"
#include "widgets/ProgressHUD.h"

namespace screenhud {

void showWaitHUD(std::shared_ptr<ProgressHUD>& hud, const std::shared_ptr<platform::View>& view,
                 const std::string& label) {
  hud = ProgressHUD::reusableHUDForView(view);
  hud->setLabelText(label);
  hud->show(true);
}

void hideWaitHUD(const std::shared_ptr<ProgressHUD>& hud) {
  if (hud) hud->setHidden(true);
}

bool isWaitHUDShown(const std::shared_ptr<ProgressHUD>& hud) { return hud && !hud->isHidden(); }

void showNetworkNotice() { NoticeHUDView::hudWithBody("请检查网络", 3, 2.0, true); }

void showLoadFailure(const std::shared_ptr<ProgressHUD>& hud, platform::View& retry,
                     platform::View& list) {
  hideWaitHUD(hud);
  showNetworkNotice();
  retry.setHidden(false);
  list.setHidden(true);
}

}  // namespace screenhud
