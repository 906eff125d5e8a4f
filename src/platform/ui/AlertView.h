#pragma once
// AlertView: the platform's modal alert: a title, a message and buttons, the cancel button (when
// given) at index 0 and the other buttons after it, a tag and a delegate. `show` puts it on
// screen, over every window; alerts shown while another is up stack, the newest on top.
// Answering an alert (a tap on one of its buttons, or `answer`) tells the delegate
// clickedButtonAtIndex, then willDismiss and didDismiss, and takes the alert off screen;
// `dismissWithClickedButtonIndex` dismisses without the clicked call, as on the platform.
//
// The list of alerts on screen (`visibleAlerts`) holds them; the delegate is not owned.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/View.h"

namespace platform {

class AlertView;

class AlertViewDelegate {
 public:
  virtual ~AlertViewDelegate() = default;
  virtual void alertViewClickedButtonAtIndex(AlertView&, int /*buttonIndex*/) {}
  virtual void alertViewWillDismissWithButtonIndex(AlertView&, int /*buttonIndex*/) {}
  virtual void alertViewDidDismissWithButtonIndex(AlertView&, int /*buttonIndex*/) {}
};

class AlertView : public View {
  CH_SHARED_OBJECT(AlertView)

 public:
  const std::optional<std::string>& title() const { return title_; }
  void setTitle(std::optional<std::string> t) { title_ = std::move(t); }
  const std::optional<std::string>& message() const { return message_; }
  void setMessage(std::optional<std::string> m) { message_ = std::move(m); }
  std::shared_ptr<AlertViewDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<AlertViewDelegate> d) { delegate_ = std::move(d); }

  int addButtonWithTitle(const std::string& title);
  int numberOfButtons() const { return static_cast<int>(buttons_.size()); }
  std::string buttonTitleAtIndex(int index) const;
  int cancelButtonIndex() const { return cancelIndex_; }
  int firstOtherButtonIndex() const;
  const std::vector<std::string>& buttonTitles() const { return buttons_; }

  void show();
  bool isVisible() const;
  // A tap on button `index`: clicked, then dismissed. Throws AssertionFailure for an index
  // that is not a button or an alert that is not on screen.
  void answer(int index);
  void dismissWithClickedButtonIndex(int index, bool animated);

  // Alerts on screen, oldest first; the last is the one on top.
  static std::vector<std::shared_ptr<AlertView>> visibleAlerts();
  static std::shared_ptr<AlertView> topAlert();
  // Takes every alert off screen without telling delegates (between tests).
  static void dismissAllWithoutAnswer();
  // Lays the alerts on screen out for the interface orientation (windows call it when the
  // orientation changes).
  static void layoutVisibleAlerts();

  void layoutSubviews() override;
  void drawRect(GraphicsContext& context, const Rect& rect) override;

 protected:
  AlertView(std::optional<std::string> title, std::optional<std::string> message,
            std::weak_ptr<AlertViewDelegate> delegate, std::optional<std::string> cancelButtonTitle,
            std::vector<std::string> otherButtonTitles = {});

 private:
  // Covers the whole screen as the interface sees it.
  void layoutForOrientation();
  Rect boxRect() const;
  void buildButtons();

  std::optional<std::string> title_;
  std::optional<std::string> message_;
  std::weak_ptr<AlertViewDelegate> delegate_;
  std::vector<std::string> buttons_;
  int cancelIndex_ = -1;
  bool built_ = false;
};

}  // namespace platform
