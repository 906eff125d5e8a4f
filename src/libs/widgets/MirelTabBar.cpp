#include "widgets/MirelTabBar.h"

#include <algorithm>

#include "platform/foundation/Thread.h"
#include "platform/ui/Label.h"
#include "platform/ui/Screen.h"

using platform::Button;
using platform::Color;
using platform::Rect;

namespace {

// The icon's frame inside its button, by tab position.
Rect iconFrame(std::size_t position) {
  switch (position) {
    case 0:
      return {33, 10, 15, 19};
    case 1:
      return {31, 11, 18, 18};
    case 2:
      return {33, 11, 13, 13};
    case 3:
      return {33, 11, 14, 14};
    default:
      return {33, 10, 12, 16};
  }
}

// The bar's y: it sits on the screen's own row, whatever the caller asked.
Rect placedFrame(const Rect& frame) {
  bool tall = platform::Screen::mainScreen().currentModeSize() == platform::Size{640, 1136};
  return {frame.x(), tall ? 455.0 : 367.0, frame.width(), frame.height()};
}

}  // namespace

MirelTabBar::MirelTabBar(const Rect& frame, const std::vector<platform::Dictionary>& buttonImages,
                         const std::vector<std::string>& titleName, unsigned selectIndex)
    : View(placedFrame(frame)) {
  setBackgroundColor(Color::clearColor());
  _backgroundView = platform::ImageView::create(bounds());
  addSubview(_backgroundView);
  _notSelectIndex = selectIndex;
  _buttonBgView =
      View::create(Rect{kButtonWidth * selectIndex + 10, 0, kHighlightWidth, kHighlightHeight});
  _buttonBgView->setBackgroundColor(kHighlightColor);
  addSubview(_buttonBgView);
  _buttons.reserve(buttonImages.size());
  for (std::size_t i = 0; i < buttonImages.size(); ++i) {
    auto button = makeButton(static_cast<unsigned>(i),
                             Rect{kButtonWidth * i, 0, kButtonWidth, bounds().height()});
    auto icon = platform::ImageView::create(iconFrame(i));
    icon->setImage(imageIn(buttonImages[i], "Default"));
    button->addSubview(icon);
    auto title = platform::Label::create(Rect{0, 17, button->bounds().width(), 40});
    // The caller gives a title per tab; a missing one shows none rather than failing.
    title->setText(i < titleName.size() ? titleName[i] : std::string());
    title->setTextAlignment(platform::TextAlignment::Center);
    title->setTextColor(Color::whiteColor());
    title->setBackgroundColor(Color::clearColor());
    title->setFont(platform::Font::boldSystemFont(11));
    button->addSubview(title);
    _buttons.push_back(button);
    addSubview(button);
  }
}

std::shared_ptr<platform::Image> MirelTabBar::imageIn(const platform::Dictionary& dictionary,
                                                      const std::string& key) {
  const platform::Value* value = platform::find(dictionary, key);
  if (!value) return nullptr;
  if (const std::string* name = value->asText()) return platform::Image::named(*name);
  return value->object<platform::Image>();
}

std::shared_ptr<Button> MirelTabBar::makeButton(unsigned tag, const Rect& frame) {
  auto button = Button::create(frame, platform::ButtonType::Custom);
  button->setTag(static_cast<int>(tag));
  // Made in the constructor, before the bar is shared: the action finds the bar through the
  // button's superview instead.
  button->addAction(
      [](platform::Control& sender) {
        if (auto* bar = dynamic_cast<MirelTabBar*>(sender.superviewPointer())) {
          bar->tabBarButtonClicked(static_cast<Button&>(sender));
        }
      },
      platform::ControlEvent::TouchUpInside);
  return button;
}

void MirelTabBar::setBackgroundView(std::shared_ptr<platform::ImageView> view) {
  if (_backgroundView) _backgroundView->removeFromSuperview();
  _backgroundView = std::move(view);
  if (_backgroundView) insertSubview(_backgroundView, 0);
}

void MirelTabBar::setButtons(std::vector<std::shared_ptr<Button>> buttons) {
  _buttons = std::move(buttons);
}

void MirelTabBar::setBackgroundImage(std::shared_ptr<platform::Image>) {
  _backgroundView->setBackgroundColor(kBackgroundColor);
}

void MirelTabBar::tabBarButtonClicked(Button& button) {
  platform::assertMainThread("MirelTabBar::tabBarButtonClicked");
  auto keep = shared_from_this();
  unsigned tag = static_cast<unsigned>(button.tag());
  if (auto d = delegate()) d->tabBar(*this, tag);
  if (_notSelectIndex == 1 && tag == 0) return;
  selectTabAtIndex(tag);
  _buttonBgView->setFrame({kButtonWidth * tag + 10, 0, kHighlightWidth, kHighlightHeight});
  bringSubviewToFront(&button);
}

void MirelTabBar::selectTabAtIndex(unsigned index) {
  platform::assertMainThread("MirelTabBar::selectTabAtIndex");
  for (auto& button : _buttons) {
    button->setSelected(false);
    button->setUserInteractionEnabled(true);
  }
  if (index >= _buttons.size()) return;
  _buttons[index]->setSelected(true);
  _buttons[index]->setUserInteractionEnabled(false);
}

void MirelTabBar::spreadButtons(double width) {
  for (auto& button : _buttons) {
    button->setFrame({width * button->tag(), 0, width, bounds().height()});
  }
}

void MirelTabBar::removeTabAtIndex(unsigned index) {
  platform::assertMainThread("MirelTabBar::removeTabAtIndex");
  if (index >= _buttons.size()) return;
  _buttons[index]->removeFromSuperview();
  _buttons.erase(_buttons.begin() + index);
  if (_buttons.empty()) return;
  for (auto& button : _buttons) {
    if (button->tag() > static_cast<int>(index)) button->setTag(button->tag() - 1);
  }
  spreadButtons(kBarWidth / _buttons.size());
}

void MirelTabBar::insertTabWithImageDic(const platform::Dictionary& dictionary, unsigned index) {
  platform::assertMainThread("MirelTabBar::insertTabWithImageDic");
  index = std::min<unsigned>(index, static_cast<unsigned>(_buttons.size()));
  double width = kBarWidth / (_buttons.size() + 1);
  for (auto& button : _buttons) {
    if (button->tag() >= static_cast<int>(index)) button->setTag(button->tag() + 1);
  }
  spreadButtons(width);
  auto button = makeButton(index, Rect{width * index, 0, width, bounds().height()});
  button->setImage(imageIn(dictionary, "Default"), platform::ControlState::Normal);
  button->setImage(imageIn(dictionary, "Highlighted"), platform::ControlState::Highlighted);
  button->setImage(imageIn(dictionary, "Seleted"), platform::ControlState::Selected);
  _buttons.insert(_buttons.begin() + index, button);
  addSubview(button);
}
