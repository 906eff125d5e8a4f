#pragma once
// NoticeHUDView: the small square notice of the alert queue: an icon above a one-line body in a
// dark 125 x 125 box in the middle of the screen, taken away by its timer. Icons by type: 0 none
// (the body alone), 1 a spinning blue circle, 2 a white check mark, 3 the "!" glyph (kept as
// type 4), 4 the icon label's text glyph. The body shrinks from 26 to 11 points to fit the box
// on one line. Tapping a notice does nothing.
//
// The screens use only `hudWithBody`: "请检查网络" with type 3 for 2 seconds, "没有视频可以切换"
// with type 0 for 2 seconds. Main thread only.

#include <memory>
#include <optional>
#include <string>

#include "alerts/NoticeAlertView.h"
#include "platform/ui/Label.h"
#include "widgets/CheckMarkView.h"
#include "widgets/SpinningCircle.h"

class NoticeHUDView : public NoticeAlertView {
  CH_SHARED_OBJECT(NoticeHUDView)

 public:
  static constexpr int kTypeNone = 0;
  static constexpr int kTypeSpinner = 1;
  static constexpr int kTypeCheckMark = 2;
  static constexpr int kTypeExclamation = 3;
  static constexpr int kTypeIconLabel = 4;
  static constexpr double kBoxSide = 125;
  static constexpr platform::Color kSpinnerColor =
      platform::Color::rgb(50 / 255.0, 155 / 255.0, 1.0, 1.0);

  // A notice with that body, type and hide delay on a black (alpha 0.9) box; type 3 becomes
  // type 4 with a white bold 60-point "!". Shown through the queue when `show` is true.
  static std::shared_ptr<NoticeHUDView> hudWithBody(const std::optional<std::string>& body,
                                                    int type, double hidesAfter, bool show);

  int hudType() const { return _hudType; }
  void setHudType(int type) { _hudType = type; }
  double hudHideDelay() const { return _hudHideDelay; }
  void setHudHideDelay(double seconds) { _hudHideDelay = seconds; }
  platform::Size bodyOffset() const { return _bodyOffset; }
  void setBodyOffset(platform::Size offset) { _bodyOffset = offset; }
  platform::Color backgroundColor() const { return _backgroundColor; }
  void setBackgroundColor(platform::Color color) { _backgroundColor = color; }
  // Made on first use: 50 x 50, clear background.
  std::shared_ptr<platform::Label> iconLabel();
  std::shared_ptr<CheckMarkView> checkMark() const { return _checkMark; }
  std::shared_ptr<SpinningCircle> activityIndicator() const { return _activityIndicator; }
  std::shared_ptr<platform::Button> box() const { return _backgroundButton; }

  // `size` when set, else 125 x 125.
  platform::Size hudSize() const;
  platform::Font bodyFont() override;
  std::shared_ptr<platform::Button> bodyLabelButton() override;
  std::shared_ptr<platform::ImageView> imageView() override;
  void loadView() override;
  void viewDidLoad() override;
  // Shows the notice and, with a positive hide delay, starts its timer.
  void addToWindow() override;
  void layoutView() override;
  void centerViews() override;

 protected:
  NoticeHUDView() = default;

 private:
  std::shared_ptr<platform::Button> _backgroundButton;
  std::shared_ptr<CheckMarkView> _checkMark;
  std::shared_ptr<SpinningCircle> _activityIndicator;
  std::shared_ptr<platform::Button> _bodyLabelButton;
  std::shared_ptr<platform::ImageView> _imageView;
  std::optional<platform::Font> _bodyFont;
  platform::Size _bodyOffset;
  std::shared_ptr<platform::Label> _iconLabel;
  platform::Color _backgroundColor = platform::Color::blackColor();
  int _hudType = kTypeNone;
  double _hudHideDelay = 0;
};
