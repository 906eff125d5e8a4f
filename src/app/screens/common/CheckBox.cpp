#include "screens/common/CheckBox.h"

#include "platform/ui/Image.h"

namespace {

constexpr double kSide = 16;

}  // namespace

CheckBox::CheckBox(const platform::Rect& frame)
    : View(platform::Rect{frame.x(), frame.y(), kSide, kSide}) {
  initCheckBox(frame);
}

void CheckBox::initCheckBox(const platform::Rect&) {
  setUserInteractionEnabled(true);
  setChecked(false);
  _bgImageView = platform::ImageView::create(platform::Rect{0, 0, kSide, kSide});
  _bgImageView->setUserInteractionEnabled(true);
  setBgImageView();
  addSubview(_bgImageView);
  // The recognizer lives on the picture, which this box owns, so the box outlives it.
  _tapGR = std::make_shared<platform::TapGestureRecognizer>(
      [this](platform::GestureRecognizer&) { tapImageView(); });
  _bgImageView->addGestureRecognizer(_tapGR);
}

void CheckBox::setChecked(bool checked) {
  _checked = checked;
  setBgImageView();
  if (auto delegate = _delegate.lock()) delegate->viewChecked(*this);
}

void CheckBox::setBgImageView() {
  if (!_bgImageView) return;
  _bgImageView->setImage(
      platform::Image::named(_checked ? "checkbox_check_big" : "checkbox_uncheck_big"));
}

void CheckBox::tapImageView() { setChecked(!_checked); }
