#pragma once
// CheckBox: a 16 x 16 image check box ("checkbox_check_big" ticked, "checkbox_uncheck_big" not)
// that a tap flips. It tells its delegate of every change, also of one made by code, so a screen
// that ticks the box itself hears about it as about a tap. Used by the login screen and the
// download list. Main thread only.

#include <memory>

#include "platform/ui/ImageView.h"
#include "platform/ui/TapGestureRecognizer.h"
#include "platform/ui/View.h"

class CheckBox;

class CheckBoxDelegate {
 public:
  virtual ~CheckBoxDelegate() = default;
  virtual void viewChecked(CheckBox& box) = 0;
};

class CheckBox : public platform::View {
  CH_SHARED_OBJECT(CheckBox)

 public:
  bool checked() const { return _checked; }
  // Stores the mark, shows it and tells the delegate.
  void setChecked(bool checked);
  std::shared_ptr<CheckBoxDelegate> delegate() const { return _delegate.lock(); }
  void setDelegate(std::weak_ptr<CheckBoxDelegate> delegate) { _delegate = std::move(delegate); }

  // Shows the picture of the current mark.
  void setBgImageView();
  // The tap on the picture: flips the mark.
  void tapImageView();

  const std::shared_ptr<platform::ImageView>& bgImageView() const { return _bgImageView; }

 protected:
  // Any size given becomes 16 x 16 at the rectangle's origin.
  explicit CheckBox(const platform::Rect& frame);

 private:
  void initCheckBox(const platform::Rect& frame);

  std::shared_ptr<platform::ImageView> _bgImageView;
  std::shared_ptr<platform::TapGestureRecognizer> _tapGR;
  bool _checked = false;
  std::weak_ptr<CheckBoxDelegate> _delegate;
};
