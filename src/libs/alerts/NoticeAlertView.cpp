#include "alerts/NoticeAlertView.h"

#include <algorithm>
#include <deque>
#include <typeinfo>

#include "alerts/AlertsNotifications.h"
#include "alerts/NoticeHUDView.h"
#include "alerts/ViewAnimations.h"
#include "platform/foundation/Thread.h"
#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"
#include "platform/ui/TextMeasurer.h"
#include "platform/ui/UINotifications.h"
#include "platform/ui/Window.h"
#include "widgets/FontAlert.h"
#include "widgets/StringTrim.h"

using platform::Button;
using platform::Color;
namespace ControlEvent = platform::ControlEvent;
using platform::Rect;
using platform::Size;
using platform::View;

namespace {

using AlertPtr = std::shared_ptr<NoticeAlertView>;

// The queue shared by every alert and notice (main thread only).
struct Queue {
  AlertPtr current;
  std::deque<AlertPtr> display;
  std::vector<AlertPtr> list;
  std::vector<AlertPtr> dismissing;
};

Queue& queue() {
  static Queue q;
  return q;
}

template <class Container>
void removeAlert(Container& container, const NoticeAlertView* alert) {
  container.erase(std::remove_if(container.begin(), container.end(),
                                 [alert](const AlertPtr& a) { return a.get() == alert; }),
                  container.end());
}

}  // namespace

NoticeAlertView::NoticeAlertView() {
  // The token goes with the alert, so the observer never outlives it.
  rotationObserver_ = platform::NotificationCenter::defaultCenter().addObserver(
      platform::kApplicationDidChangeStatusBarOrientationNotification,
      [this](const platform::Notification&) { setRotation(); });
}

NoticeAlertView::~NoticeAlertView() { rotationObserver_.reset(); }

// --- Class operations ---

bool NoticeAlertView::alertIsVisible() { return queue().current != nullptr; }

AlertPtr NoticeAlertView::alertWithBody(const std::optional<std::string>& body,
                                        const std::optional<std::string>& cancelTitle,
                                        std::function<void()> cancelBlock) {
  auto alert = create();
  alert->setBodyText(body);
  if (cancelTitle) alert->addButtonWithText(cancelTitle, 0, std::move(cancelBlock));
  return alert;
}

void NoticeAlertView::dismissCurrentHUD() {
  platform::assertMainThread("NoticeAlertView::dismissCurrentHUD");
  // The alert on screen, not the newest queued one: dismissing a waiting alert would leave the
  // shown one in the window with nothing to take it away.
  if (auto current = queue().current) current->dismiss();
}

void NoticeAlertView::dismissCurrentHUDAfterDelay(double seconds) {
  platform::RunLoop::main()->performAfter(platform::seconds(seconds), [] { dismissCurrentHUD(); });
}

AlertPtr NoticeAlertView::currentAlert() { return queue().current; }

std::vector<AlertPtr> NoticeAlertView::displayQueue() {
  return {queue().display.begin(), queue().display.end()};
}

std::vector<AlertPtr> NoticeAlertView::alertList() { return queue().list; }

std::vector<AlertPtr> NoticeAlertView::dismissQueue() { return queue().dismissing; }

void NoticeAlertView::discardAll() {
  platform::assertMainThread("NoticeAlertView::discardAll");
  Queue& q = queue();
  for (const auto* group : {&q.list, &q.dismissing}) {
    for (const auto& alert : *group) {
      if (alert->_hideTimer) alert->_hideTimer->invalidate();
    }
  }
  q = Queue();
}

// --- Queue ---

void NoticeAlertView::addButtonWithText(const std::optional<std::string>& text, int type,
                                        std::function<void()> block) {
  _items.push_back(std::make_shared<NoticeAlertViewItem>(text, type, std::move(block)));
}

void NoticeAlertView::addToDisplayQueue() {
  platform::assertMainThread("NoticeAlertView::addToDisplayQueue");
  auto self = std::static_pointer_cast<NoticeAlertView>(shared_from_this());
  Queue& q = queue();
  q.display.push_back(self);
  q.list.push_back(self);
  if (!q.dismissing.empty() || q.current) return;
  q.current = self;
  addToWindow();
  if (typeid(*this) == typeid(NoticeAlertView)) {
    platform::NotificationCenter::defaultCenter().post(kNoticeAlertViewDidAppearNotification);
  }
}

void NoticeAlertView::addToWindow() {
  auto& app = platform::Application::sharedApplication();
  auto window = app.keyWindow();
  if (!window && !app.windows().empty()) window = app.windows().front();
  auto root = view();
  if (window) {
    View* parent = window.get();
    if (!_addsToWindow && !window->subviews().empty()) parent = window->subviews().front().get();
    parent->addSubview(root);
  }
  performLayoutOfButtons();
  centerViews();
  if (window) ViewAnimations::resignFirstRespondersForSubviews(*window);
  addBounceAnimationToLayer(root->layer());
  removeAlert(queue().display, this);
}

void NoticeAlertView::dismiss() {
  platform::assertMainThread("NoticeAlertView::dismiss");
  if (isPendingDismissal) return;
  isPendingDismissal = true;
  auto self = std::static_pointer_cast<NoticeAlertView>(shared_from_this());
  if (_hideTimer) _hideTimer->invalidate();
  Queue& q = queue();
  q.dismissing.push_back(self);
  removeAlert(q.list, this);
  // A waiting alert dismissed before it showed leaves the alert on screen in place.
  if (q.current == self) q.current.reset();
  removeAlert(q.display, this);
  addDismissAnimation();
  performAfter(kFadeDelay, &NoticeAlertView::hideWithFade);
}

void NoticeAlertView::removeAlertFromView() {
  auto self = std::static_pointer_cast<NoticeAlertView>(shared_from_this());
  if (auto block = std::exchange(_uponDismissalBlock, nullptr)) block();
  if (isViewLoaded()) view()->removeFromSuperview();
  Queue& q = queue();
  removeAlert(q.dismissing, this);
  if (q.display.empty() || q.current || !q.dismissing.empty()) return;
  q.current = q.display.front();
  q.current->addToWindow();
}

void NoticeAlertView::performAfter(double seconds, void (NoticeAlertView::*step)()) {
  auto self = std::static_pointer_cast<NoticeAlertView>(shared_from_this());
  platform::RunLoop::main()->performAfter(platform::seconds(seconds),
                                          [self, step] { ((*self).*step)(); });
}

// --- Taps ---

void NoticeAlertView::didSelectButton(Button& button) {
  auto keep = shared_from_this();
  if (button.tag() < 0 || static_cast<std::size_t>(button.tag()) >= _items.size()) return;
  const auto& item = _items[static_cast<std::size_t>(button.tag())];
  if (auto block = item->block()) {
    if (_shouldPerformBlockAfterDismissal) {
      _uponDismissalBlock = block;
    } else {
      block();
    }
  }
  platform::NotificationCenter::defaultCenter().post(kNoticeAlertViewDidDismissNotification);
  performAfter(kButtonDismissDelay, &NoticeAlertView::dismiss);
}

void NoticeAlertView::didSelectBackgroundButton() {
  if (_buttons.size() == 1) didSelectButton(*_buttons.front());
}

void NoticeAlertView::didSelectBodyLabel() {
  if (auto body = bodyLabelButton()) {
    body->layer().addAnimation(
        animationWithValues({1, 1.08, 0.95, 1.02, 1}, {0, 0.1, 0.7, 0.9, 1.0}, 0.3), kPopKey);
  }
}

void NoticeAlertView::didHighlightButton(Button& button) {
  button.layer().addAnimation(animationWithValues({1, 1.25}, {0, 0.5}, 0.25), kPopKey);
}

void NoticeAlertView::didRemoveHighlightFromButton(Button& button) {
  button.layer().removeAllAnimations();
}

// --- Views ---

Rect NoticeAlertView::screenRect() {
  Size size = platform::Screen::mainScreen().interfaceSize();
  return {0, 0, size.width, size.height};
}

std::shared_ptr<Button> NoticeAlertView::makeBackgroundButton(const Rect& frame) {
  auto box = Button::create(frame, platform::ButtonType::Custom);
  std::weak_ptr<NoticeAlertView> weak =
      std::static_pointer_cast<NoticeAlertView>(weak_from_this().lock());
  box->addAction(
      [weak] {
        if (auto alert = weak.lock()) alert->didSelectBackgroundButton();
      },
      ControlEvent::TouchUpInside);
  return box;
}

void NoticeAlertView::loadView() {
  Rect screen = screenRect();
  auto root = View::create(screen);
  root->setBackgroundColor(Color::clearColor());
  root->setAutoresizingMask(63);
  if (isFullScreen()) {
    _contentRect = screen;
    _backgroundButton =
        makeBackgroundButton({-100, -100, screen.width() + 200, screen.height() + 200});
    _size = screen.size;
  } else {
    Rect box{(screen.width() - _size.width) / 2, (screen.height() - _size.height) / 2, _size.width,
             _size.height};
    _backgroundButton = makeBackgroundButton(box);
    _backgroundButton->layer().setCornerRadius(8);
    _contentRect = box;
  }
  _backgroundButton->setBackgroundColor(Color::blackColor());
  _backgroundButton->setAutoresizingMask(63);
  _backgroundButton->setAlpha(_backgroundAlpha > 0 ? _backgroundAlpha : kDefaultBackgroundAlpha);
  root->addSubview(_backgroundButton);
  setView(root);
}

void NoticeAlertView::viewDidLoad() {
  ViewController::viewDidLoad();
  layoutView();
}

void NoticeAlertView::viewDidUnload() { ViewController::viewDidUnload(); }

Size NoticeAlertView::labelConstraint() const {
  return {_contentRect.width() - 40, _contentRect.height() - 100};
}

platform::Font NoticeAlertView::bodyFont() {
  if (!_bodyFont) {
    _bodyFont =
        FontAlert::boldSystemFontThatFitsSize(labelConstraint(), 22, 20, _bodyText.value_or(""));
  }
  return *_bodyFont;
}

std::shared_ptr<Button> NoticeAlertView::bodyLabelButton() {
  if (_bodyLabelButton) return _bodyLabelButton;
  platform::Font font = bodyFont();
  std::string body = _bodyText.value_or("");
  Size size = body.empty() ? Size{}
                           : platform::TextMeasurer::sizeOfText(body, font, labelConstraint(),
                                                                platform::LineBreakMode::WordWrap);
  std::string shown = StringTrim::stringByTruncatingToSize(body, size, font, false);
  double imageHeight = _imageView ? _imageView->bounds().height() : 0;
  auto button = Button::create(
      Rect{_contentRect.midX() - size.width / 2,
           _contentRect.midY() - size.height / 2 - 8 + imageHeight, size.width, size.height},
      platform::ButtonType::Custom);
  button->setAutoresizingMask(kDefaultAutoResizingMask);
  std::weak_ptr<NoticeAlertView> weak =
      std::static_pointer_cast<NoticeAlertView>(weak_from_this().lock());
  button->addAction(
      [weak] {
        if (auto alert = weak.lock()) alert->didSelectBodyLabel();
      },
      ControlEvent::TouchUpInside);
  // The button shows the body as it fits the box.
  button->setTitle(shown);
  button->titleLabel()->setFont(font);
  button->titleLabel()->setNumberOfLines(0);
  button->titleLabel()->setTextAlignment(platform::TextAlignment::Center);
  _bodyLabelButton = button;
  return button;
}

std::shared_ptr<platform::ImageView> NoticeAlertView::imageView() {
  if (!_imageView) _imageView = platform::ImageView::create();
  return _imageView;
}

void NoticeAlertView::layoutView() {
  auto root = view();
  if (_imageView) {
    _imageView->sizeToFit();
    Rect f = _imageView->frame();
    _imageView->setFrame({_contentRect.midX() - f.width() / 2, f.y(), f.width(), f.height()});
    root->addSubview(_imageView);
  }
  auto body = bodyLabelButton();
  body->setTitleColor(Color::whiteColor());
  body->setBackgroundColor(Color::clearColor());
  root->addSubview(body);
  _buttons.clear();
  std::weak_ptr<NoticeAlertView> weak =
      std::static_pointer_cast<NoticeAlertView>(weak_from_this().lock());
  for (std::size_t i = 0; i < _items.size(); ++i) {
    auto button = NoticeAlertViewButton::create(_items[i]->title());
    button->setTag(static_cast<int>(i));
    button->addAction(
        [weak](platform::Control& sender) {
          if (auto alert = weak.lock()) alert->didSelectButton(static_cast<Button&>(sender));
        },
        ControlEvent::TouchUpInside);
    button->addAction(
        [weak](platform::Control& sender) {
          if (auto alert = weak.lock()) alert->didHighlightButton(static_cast<Button&>(sender));
        },
        ControlEvent::TouchDown);
    button->addAction(
        [weak](platform::Control& sender) {
          if (auto alert = weak.lock()) {
            alert->didRemoveHighlightFromButton(static_cast<Button&>(sender));
          }
        },
        ControlEvent::TouchDragExit | ControlEvent::TouchUpOutside | ControlEvent::TouchCancel);
    _buttons.push_back(button);
  }
}

void NoticeAlertView::performLayoutOfButtons() {
  if (_buttons.empty()) return;
  auto root = view();
  double rowWidth = 30.0 * (_buttons.size() - 1);
  for (const auto& button : _buttons) rowWidth += button->bounds().width();
  double x = root->bounds().width() / 2 - rowWidth / 2;
  double top = bodyLabelButton()->frame().maxY();
  for (std::size_t i = 0; i < _buttons.size(); ++i) {
    auto& button = _buttons[i];
    Rect f = button->frame();
    button->setFrame({x, top, f.width(), f.height()});
    x += f.width() + 30;
    if (i < _items.size()) button->setAlertButtonType(_items[i]->type());
    if (!button->superviewPointer()) root->addSubview(button);
  }
}

void NoticeAlertView::layoutButtonsWrapper() {
  View::animate(0.3, [this] { performLayoutOfButtons(); });
  centerViews();
}

void NoticeAlertView::setRotation() {
  performAfter(kRotationDelay, &NoticeAlertView::layoutButtonsWrapper);
}

void NoticeAlertView::centerViews() {
  if (!_backgroundButton) return;
  auto body = bodyLabelButton();
  for (const auto& button : _buttons) {
    if (_imageView) {
      ViewAnimations::centerViewsVerticallyWithin(*_backgroundButton,
                                                  {{_imageView, 0}, {body, 20}, {button, 20}});
    } else {
      ViewAnimations::centerViewsVerticallyWithin(*_backgroundButton, {{body, 0}, {button, 20}});
    }
  }
}

// --- Animations ---

platform::Animation NoticeAlertView::animationWithValues(std::vector<double> values,
                                                         std::vector<double> times,
                                                         double duration) {
  platform::Animation animation;
  animation.keyPath = "transform";
  animation.type = "keyframe";
  animation.values = std::move(values);
  animation.keyTimes = std::move(times);
  animation.duration = duration;
  animation.fillMode = "forwards";
  animation.timingFunction = "easeOut";
  animation.removedOnCompletion = false;
  return animation;
}

void NoticeAlertView::addBounceAnimationToLayer(platform::Layer& layer) {
  layer.addAnimation(
      animationWithValues({0.1, 1.35, 0.8, 1.0}, {0, 0.5, 0.9, 1.0}, kBounceDuration), kPopKey);
}

void NoticeAlertView::addDismissAnimation() {
  platform::Animation shrink =
      animationWithValues({1, 0.95, 1.15, 0.01}, {0, 0.1, 0.5, 1.0}, kDismissDuration);
  shrink.timingFunction = "easeIn";
  if (isViewLoaded()) view()->layer().addAnimation(std::move(shrink), kPopKey);
}

void NoticeAlertView::hideWithFade() {
  auto root = view();
  root->setAlpha(0);
  bool notice = typeid(*this) == typeid(NoticeHUDView);
  ViewAnimations::addFadingAnimationWithDuration(*root, notice ? 0.25 : 0.2);
  performAfter(kRemoveDelay, &NoticeAlertView::removeAlertFromView);
}
