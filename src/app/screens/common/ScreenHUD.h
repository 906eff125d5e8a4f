#pragma once
// How the screens show waiting and short network notices: one progress HUD per screen, reused for
// every request (a new one per attempt would pile up over the view), and the "请检查网络" notice
// that every screen shows alike.

#include <memory>
#include <string>

#include "platform/ui/View.h"

class ProgressHUD;

namespace screenhud {

// Shows `hud` over `view` with `label`, making it (and adding it to `view`) on first use.
void showWaitHUD(std::shared_ptr<ProgressHUD>& hud, const std::shared_ptr<platform::View>& view,
                 const std::string& label);
// Hides `hud` when there is one; it stays on the view for the next request.
void hideWaitHUD(const std::shared_ptr<ProgressHUD>& hud);
// Whether `hud` is there and shown.
bool isWaitHUDShown(const std::shared_ptr<ProgressHUD>& hud);

// The notice "请检查网络" with the "!" glyph for 2 seconds.
void showNetworkNotice();

// A list could not be loaded: `hud` (when there is one) is hidden, the network notice shows and
// the retry button takes the hidden list's place.
void showLoadFailure(const std::shared_ptr<ProgressHUD>& hud, platform::View& retry,
                     platform::View& list);

}  // namespace screenhud
