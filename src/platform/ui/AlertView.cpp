#include "platform/ui/AlertView.h"

#include <algorithm>

#include "platform/foundation/Assert.h"
#include "platform/foundation/Thread.h"
#include "platform/ui/Button.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Screen.h"
#include "platform/ui/TextMeasurer.h"
#include "platform/ui/UIRecorder.h"

namespace platform {

namespace {
std::vector<std::shared_ptr<AlertView>>& onScreen() {
  static std::vector<std::shared_ptr<AlertView>> alerts;
  return alerts;
}

constexpr double kBoxWidth = 284;
constexpr double kButtonHeight = 43;
const Font kTitleFont = Font::boldSystemFont(17);
const Font kMessageFont = Font::systemFont(16);

UIRecorder::Event eventFor(const AlertView& alert, UIRecorder::Kind kind, int index) {
  return {kind,
          "AlertView",
          alert.title().value_or(""),
          alert.message().value_or(""),
          alert.buttonTitles(),
          alert.tag(),
          index};
}
}  // namespace

AlertView::AlertView(std::optional<std::string> title, std::optional<std::string> message,
                     std::weak_ptr<AlertViewDelegate> delegate,
                     std::optional<std::string> cancelButtonTitle,
                     std::vector<std::string> otherButtonTitles)
    : View(Screen::mainScreen().bounds()),
      title_(std::move(title)),
      message_(std::move(message)),
      delegate_(std::move(delegate)) {
  if (cancelButtonTitle) {
    buttons_.push_back(*cancelButtonTitle);
    cancelIndex_ = 0;
  }
  for (auto& t : otherButtonTitles) buttons_.push_back(std::move(t));
  setBackgroundColor(Color::blackColor().withAlpha(0.4));
}

int AlertView::addButtonWithTitle(const std::string& title) {
  buttons_.push_back(title);
  built_ = false;
  setNeedsLayout();
  return numberOfButtons() - 1;
}

std::string AlertView::buttonTitleAtIndex(int index) const {
  if (index < 0 || index >= numberOfButtons()) return {};
  return buttons_[index];
}

int AlertView::firstOtherButtonIndex() const {
  int first = cancelIndex_ == 0 ? 1 : 0;
  return first < numberOfButtons() ? first : -1;
}

void AlertView::show() {
  assertMainThread("AlertView::show");
  auto self = std::static_pointer_cast<AlertView>(shared_from_this());
  auto& alerts = onScreen();
  if (std::find(alerts.begin(), alerts.end(), self) != alerts.end()) return;
  layoutForOrientation();
  alerts.push_back(self);
  setNeedsLayout();
  UIRecorder::record(eventFor(*this, UIRecorder::Kind::AlertShown, -1));
}

bool AlertView::isVisible() const {
  for (const auto& a : onScreen()) {
    if (a.get() == this) return true;
  }
  return false;
}

void AlertView::answer(int index) {
  assertMainThread("AlertView::answer");
  assertThat(isVisible(), "the alert is not on screen");
  assertThat(index >= 0 && index < numberOfButtons(),
             "alert \"" + title_.value_or("") + "\" has no button " + std::to_string(index) +
                 " (it has " + std::to_string(numberOfButtons()) + ")");
  auto keep = shared_from_this();
  UIRecorder::record(eventFor(*this, UIRecorder::Kind::AlertAnswered, index));
  if (auto d = delegate()) d->alertViewClickedButtonAtIndex(*this, index);
  dismissWithClickedButtonIndex(index, true);
}

void AlertView::dismissWithClickedButtonIndex(int index, bool) {
  assertMainThread("AlertView::dismissWithClickedButtonIndex");
  if (!isVisible()) return;
  auto self = std::static_pointer_cast<AlertView>(shared_from_this());
  if (auto d = delegate()) d->alertViewWillDismissWithButtonIndex(*this, index);
  auto& alerts = onScreen();
  alerts.erase(std::remove(alerts.begin(), alerts.end(), self), alerts.end());
  if (auto d = delegate()) d->alertViewDidDismissWithButtonIndex(*this, index);
}

std::vector<std::shared_ptr<AlertView>> AlertView::visibleAlerts() { return onScreen(); }

std::shared_ptr<AlertView> AlertView::topAlert() {
  return onScreen().empty() ? nullptr : onScreen().back();
}

void AlertView::dismissAllWithoutAnswer() {
  assertMainThread("AlertView::dismissAllWithoutAnswer");
  onScreen().clear();
}

void AlertView::layoutVisibleAlerts() {
  assertMainThread("AlertView::layoutVisibleAlerts");
  for (const auto& alert : onScreen()) alert->layoutForOrientation();
}

void AlertView::layoutForOrientation() {
  Screen& screen = Screen::mainScreen();
  setTransform(screen.interfaceTransform());
  setBounds({0, 0, screen.interfaceSize().width, screen.interfaceSize().height});
  setCenter(screen.bounds().center());
  setNeedsLayout();
}

Rect AlertView::boxRect() const {
  double text = 0;
  double inner = kBoxWidth - 24;
  if (title_) text += TextMeasurer::sizeOfText(*title_, kTitleFont, {inner, 0}).height + 8;
  if (message_) text += TextMeasurer::sizeOfText(*message_, kMessageFont, {inner, 0}).height + 8;
  int rows = numberOfButtons() == 2 ? 1 : numberOfButtons();
  double height = 16 + text + rows * (kButtonHeight + 8) + 8;
  Rect b = bounds();
  return {b.midX() - kBoxWidth / 2, b.midY() - height / 2, kBoxWidth, height};
}

void AlertView::buildButtons() {
  for (auto& sub : std::vector<std::shared_ptr<View>>(subviews())) sub->removeFromSuperview();
  std::weak_ptr<AlertView> weak = std::static_pointer_cast<AlertView>(shared_from_this());
  for (int i = 0; i < numberOfButtons(); ++i) {
    auto button = Button::create();
    button->setTitle(buttons_[i]);
    button->setTitleColor(Color::whiteColor());
    button->setBackgroundColor(i == cancelIndex_ ? Color::rgb255(60, 70, 100)
                                                 : Color::rgb255(90, 110, 160));
    button->layer().setCornerRadius(6);
    button->setTag(i);
    button->addAction(
        [weak, i] {
          if (auto alert = weak.lock()) alert->answer(i);
        },
        ControlEvent::TouchUpInside);
    addSubview(button);
  }
  built_ = true;
}

void AlertView::layoutSubviews() {
  if (!built_) buildButtons();
  Rect box = boxRect();
  int rows = numberOfButtons() == 2 ? 1 : numberOfButtons();
  double top = box.maxY() - 8 - rows * (kButtonHeight + 8) + 8;
  const auto& subs = subviews();
  for (std::size_t i = 0; i < subs.size(); ++i) {
    if (numberOfButtons() == 2) {
      double w = (box.width() - 36) / 2;
      subs[i]->setFrame({box.x() + 12 + i * (w + 12), top, w, kButtonHeight});
    } else {
      subs[i]->setFrame(
          {box.x() + 12, top + i * (kButtonHeight + 8), box.width() - 24, kButtonHeight});
    }
  }
}

void AlertView::drawRect(GraphicsContext& context, const Rect&) {
  Rect box = boxRect();
  context.setFillColor(Color::rgb255(18, 36, 90, 0.92));
  context.fillRoundedRect(box, 10);
  context.setStrokeColor(Color::whiteColor());
  context.setLineWidth(2);
  context.beginPath();
  context.addRoundedRect(box.insetBy(1, 1), 9);
  context.strokePath();
  double y = box.y() + 16;
  Rect inner = box.insetBy(12, 0);
  if (title_) {
    y += context.drawText(*title_, {inner.x(), y, inner.width(), 200}, kTitleFont,
                          Color::whiteColor(), TextAlignment::Center) +
         8;
  }
  if (message_) {
    context.drawText(*message_, {inner.x(), y, inner.width(), 400}, kMessageFont,
                     Color::whiteColor(), TextAlignment::Center);
  }
}

}  // namespace platform
