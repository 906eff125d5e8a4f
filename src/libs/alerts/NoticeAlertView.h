#pragma once
// NoticeAlertView: an alert whose view is put straight into the application's window (never
// presented or pushed): a dark box with a body text, an optional image and a row of buttons.
// All alerts and notices (NoticeHUDView) share one queue, so exactly one is on screen at a time:
//
//   queued     addToDisplayQueue: into the display queue and the alert list; shown at once
//              when nothing is on screen or leaving it, else it waits.
//   shown      addToWindow: the current alert; its view goes into the key window's first
//              subview (or the window itself with addsToWindow), bounces in, and any keyboard
//              closes.
//   dismissing dismiss: out of the alert list, no longer current; it shrinks (0.25 s), fades
//              from 0.15 s (0.25 s for a notice, 0.2 s otherwise) and is removed 0.4 s after
//              the dismissal began; then the first waiting alert comes up.
//
// A dismissed alert never shows again. The queue and the delayed steps hold the alerts, so
// callers keep no reference. Main thread only: the queue is not locked, and every delay runs
// on the main run loop.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "alerts/NoticeAlertViewButton.h"
#include "alerts/NoticeAlertViewItem.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Layer.h"
#include "platform/ui/ViewController.h"

class NoticeAlertView : public platform::ViewController {
  CH_SHARED_OBJECT(NoticeAlertView)

 public:
  static constexpr double kBounceDuration = 0.4;
  static constexpr double kDismissDuration = 0.25;
  static constexpr double kFadeDelay = 0.15;
  static constexpr double kRemoveDelay = 0.25;
  static constexpr double kButtonDismissDelay = 0.12;
  static constexpr double kRotationDelay = 0.01;
  static constexpr double kDefaultBackgroundAlpha = 0.85;
  static constexpr unsigned kDefaultAutoResizingMask = 45;
  static constexpr const char* kPopKey = "popup";

  ~NoticeAlertView() override;

  // Whether an alert is on screen.
  static bool alertIsVisible();
  static platform::Size halfScreenSize() { return {280, 240}; }
  // A new alert (not queued) with that body and, with a title, one button of type 0.
  static std::shared_ptr<NoticeAlertView> alertWithBody(
      const std::optional<std::string>& body, const std::optional<std::string>& cancelTitle,
      std::function<void()> cancelBlock);
  // Dismisses the alert on screen, as its timer or a button would; nothing when none is.
  static void dismissCurrentHUD();
  static void dismissCurrentHUDAfterDelay(double seconds);

  // The queue's state: the alert on screen, those waiting, those queued and not yet dismissed
  // (the shown one included), those leaving.
  static std::shared_ptr<NoticeAlertView> currentAlert();
  static std::vector<std::shared_ptr<NoticeAlertView>> displayQueue();
  static std::vector<std::shared_ptr<NoticeAlertView>> alertList();
  static std::vector<std::shared_ptr<NoticeAlertView>> dismissQueue();
  // Forgets every alert without dismissing or removing it (between tests).
  static void discardAll();

  void addButtonWithText(const std::optional<std::string>& text, int type,
                         std::function<void()> block);
  void addToDisplayQueue();
  virtual void addToWindow();
  void dismiss();
  void removeAlertFromView();

  // Control actions.
  void didSelectButton(platform::Button& button);
  void didSelectBackgroundButton();
  void didSelectBodyLabel();
  void didHighlightButton(platform::Button& button);
  void didRemoveHighlightFromButton(platform::Button& button);

  void loadView() override;
  void viewDidLoad() override;
  void viewDidUnload() override;
  virtual void layoutView();
  virtual void centerViews();
  void performLayoutOfButtons();
  void layoutButtonsWrapper();
  // The status bar turned: the buttons are laid out again a moment later.
  void setRotation();
  // Made on first use from the body text.
  virtual platform::Font bodyFont();
  void setBodyFont(const platform::Font& font) { _bodyFont = font; }
  platform::Size labelConstraint() const;
  virtual std::shared_ptr<platform::Button> bodyLabelButton();
  void setBodyLabelButton(std::shared_ptr<platform::Button> button) {
    _bodyLabelButton = std::move(button);
  }
  // Made empty on first use.
  virtual std::shared_ptr<platform::ImageView> imageView();
  void setImageView(std::shared_ptr<platform::ImageView> view) { _imageView = std::move(view); }
  bool isFullScreen() const { return _size == platform::Size{}; }
  unsigned defaultAutoResizingMask() const { return kDefaultAutoResizingMask; }

  void addBounceAnimationToLayer(platform::Layer& layer);
  void addDismissAnimation();
  void hideWithFade();
  // Scales (x and y alike) at key times over the duration; forwards, ease-out, kept when done.
  static platform::Animation animationWithValues(std::vector<double> values,
                                                 std::vector<double> times, double duration);

  bool shouldAutorotate() const override { return true; }
  bool shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation o) const override {
    return o == platform::InterfaceOrientation::Portrait;
  }

  // Properties.
  std::vector<std::shared_ptr<NoticeAlertViewItem>>& items() { return _items; }
  void setItems(std::vector<std::shared_ptr<NoticeAlertViewItem>> items) {
    _items = std::move(items);
  }
  platform::Rect contentRect() const { return _contentRect; }
  void setContentRect(const platform::Rect& rect) { _contentRect = rect; }
  double backgroundAlpha() const { return _backgroundAlpha; }
  void setBackgroundAlpha(double alpha) { _backgroundAlpha = alpha; }
  const std::optional<std::string>& bodyText() const { return _bodyText; }
  void setBodyText(std::optional<std::string> text) { _bodyText = std::move(text); }
  std::shared_ptr<platform::Timer> hideTimer() const { return _hideTimer; }
  void setHideTimer(std::shared_ptr<platform::Timer> timer) { _hideTimer = std::move(timer); }
  const std::function<void()>& uponDismissalBlock() const { return _uponDismissalBlock; }
  void setUponDismissalBlock(std::function<void()> block) {
    _uponDismissalBlock = std::move(block);
  }
  bool shouldPerformBlockAfterDismissal() const { return _shouldPerformBlockAfterDismissal; }
  void setShouldPerformBlockAfterDismissal(bool after) {
    _shouldPerformBlockAfterDismissal = after;
  }
  platform::Size size() const { return _size; }
  void setSize(platform::Size size) { _size = size; }
  platform::Size iconOffset() const { return _iconOffset; }
  void setIconOffset(platform::Size offset) { _iconOffset = offset; }
  bool addsToWindow() const { return _addsToWindow; }
  void setAddsToWindow(bool adds) { _addsToWindow = adds; }
  const std::vector<std::shared_ptr<NoticeAlertViewButton>>& buttons() const { return _buttons; }
  bool pendingDismissal() const { return isPendingDismissal; }

 protected:
  NoticeAlertView();

  // The size of the whole screen as the interface sees it, which the alert's root view covers.
  static platform::Rect screenRect();
  // Runs `step` on this alert after `seconds` on the main run loop, keeping it alive until then.
  void performAfter(double seconds, void (NoticeAlertView::*step)());
  // A box the touches of which go to didSelectBackgroundButton.
  std::shared_ptr<platform::Button> makeBackgroundButton(const platform::Rect& frame);

 private:
  std::vector<std::shared_ptr<NoticeAlertViewButton>> _buttons;
  bool isPendingDismissal = false;
  std::shared_ptr<platform::Button> _backgroundButton;
  std::shared_ptr<platform::Timer> _hideTimer;
  platform::Rect _contentRect;
  std::function<void()> _uponDismissalBlock;
  std::shared_ptr<platform::ImageView> _imageView;
  bool _shouldPerformBlockAfterDismissal = false;
  platform::Size _size;
  platform::Size _iconOffset;
  bool _addsToWindow = false;
  std::vector<std::shared_ptr<NoticeAlertViewItem>> _items;
  std::optional<platform::Font> _bodyFont;
  double _backgroundAlpha = 0;
  std::shared_ptr<platform::Button> _bodyLabelButton;
  std::optional<std::string> _bodyText;
  platform::ObserverToken rotationObserver_;
};
