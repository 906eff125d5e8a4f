#include "alerts/NoticeHUDView.h"

#include "alerts/ViewAnimations.h"
#include "platform/foundation/Thread.h"
#include "platform/ui/TextMeasurer.h"

using platform::Button;
using platform::Color;
using platform::Font;
using platform::Rect;
using platform::Size;
using platform::View;

namespace {
constexpr unsigned kFlexibleSides =
    platform::Autoresizing::FlexibleLeftMargin | platform::Autoresizing::FlexibleRightMargin;
}  // namespace

std::shared_ptr<NoticeHUDView> NoticeHUDView::hudWithBody(const std::optional<std::string>& body,
                                                          int type, double hidesAfter, bool show) {
  platform::assertMainThread("NoticeHUDView::hudWithBody");
  auto hud = create();
  hud->setBodyText(body);
  hud->_hudType = type;
  hud->_hudHideDelay = hidesAfter;
  hud->_backgroundColor = Color::white(0.0, 0.9);
  if (type == kTypeExclamation) {
    hud->_hudType = kTypeIconLabel;
    auto icon = hud->iconLabel();
    icon->setTextColor(Color::whiteColor());
    icon->setText("!");
    icon->setFont(Font::boldSystemFont(60));
    hud->_bodyOffset = {0, 0};
  }
  if (show) hud->addToDisplayQueue();
  return hud;
}

Size NoticeHUDView::hudSize() const { return size() == Size{} ? Size{kBoxSide, kBoxSide} : size(); }

std::shared_ptr<platform::Label> NoticeHUDView::iconLabel() {
  if (!_iconLabel) {
    _iconLabel = platform::Label::create(Rect{0, 0, 50, 50});
    _iconLabel->setBackgroundColor(Color::clearColor());
    _iconLabel->setAutoresizingMask(kFlexibleSides);
  }
  return _iconLabel;
}

std::shared_ptr<platform::ImageView> NoticeHUDView::imageView() {
  if (!_imageView) {
    _imageView = platform::ImageView::create();
    _imageView->setAutoresizingMask(kFlexibleSides);
  }
  return _imageView;
}

void NoticeHUDView::loadView() {
  Rect screen = screenRect();
  auto root = View::create(screen);
  root->setBackgroundColor(Color::clearColor());
  root->setAutoresizingMask(63);
  Size box = hudSize();
  setContentRect({(screen.width() - box.width) / 2, (screen.height() - box.height) / 2, box.width,
                  box.height});
  _backgroundButton = makeBackgroundButton(contentRect());
  _backgroundButton->setBackgroundColor(_backgroundColor);
  _backgroundButton->setAutoresizingMask(kDefaultAutoResizingMask);
  _backgroundButton->setAlpha(kDefaultBackgroundAlpha);
  _backgroundButton->layer().setCornerRadius(8);
  root->addSubview(_backgroundButton);
  setView(root);
}

void NoticeHUDView::viewDidLoad() { layoutView(); }

Font NoticeHUDView::bodyFont() {
  if (!_bodyFont) {
    // One line, shrinking from 26 down to 11 points to fit within the box less its edges.
    Font largest = Font::boldSystemFont(26);
    double size = platform::TextMeasurer::fittingFontSize(bodyText().value_or(""), largest, 11,
                                                          contentRect().width() / 1.3);
    _bodyFont = largest.withSize(size);
  }
  return *_bodyFont;
}

std::shared_ptr<Button> NoticeHUDView::bodyLabelButton() {
  if (_bodyLabelButton) return _bodyLabelButton;
  Font font = bodyFont();
  std::string body = bodyText().value_or("");
  Size size = platform::TextMeasurer::sizeOfLine(body, font);
  auto button =
      Button::create(Rect{contentRect().midX() - size.width / 2, 0, size.width, size.height},
                     platform::ButtonType::Custom);
  button->setTitle(body);
  button->setAutoresizingMask(kFlexibleSides);
  button->titleLabel()->setFont(font);
  button->titleLabel()->setNumberOfLines(0);
  button->titleLabel()->setTextAlignment(platform::TextAlignment::Center);
  view()->addSubview(button);
  _bodyLabelButton = button;
  return button;
}

void NoticeHUDView::layoutView() {
  auto root = view();
  auto body = bodyLabelButton();
  double middle = root->bounds().width() / 2;
  if (_imageView) {
    _imageView->sizeToFit();
    Rect f = _imageView->frame();
    _imageView->setFrame({contentRect().midX() - f.width() / 2, f.y(), f.width(), f.height()});
    root->addSubview(_imageView);
  } else if (_hudType == kTypeIconLabel ||
             (_hudType != kTypeSpinner && _hudType != kTypeCheckMark && _iconLabel &&
              !_iconLabel->text().empty())) {
    auto icon = iconLabel();
    icon->sizeToFit();
    Rect f = icon->frame();
    icon->setFrame({middle - f.width() / 2 + iconOffset().width, f.y(), f.width(), f.height()});
    root->addSubview(icon);
  } else if (_hudType == kTypeCheckMark) {
    _checkMark = CheckMarkView::checkMarkWithSize(3, Color::whiteColor());
    _checkMark->setAutoresizingMask(kFlexibleSides);
    Rect f = _checkMark->frame();
    _checkMark->setFrame({middle - f.width() / 2, f.y(), f.width(), f.height()});
    root->addSubview(_checkMark);
  } else if (_hudType == kTypeSpinner) {
    _activityIndicator = SpinningCircle::circleWithSize(1, kSpinnerColor);
    _activityIndicator->setAutoresizingMask(kDefaultAutoResizingMask);
    Rect f = _activityIndicator->frame();
    _activityIndicator->setFrame({middle - f.width() / 2, f.y(), f.width(), f.height()});
    _activityIndicator->setCircleSize(1);
    _activityIndicator->setHasGlow(true);
    _activityIndicator->setSpeed(0.55);
    _activityIndicator->setIsAnimating(true);
    root->addSubview(_activityIndicator);
  }
  body->layer().setShadowColor(Color::whiteColor());
  body->layer().setShadowOffset({0, 0});
  body->layer().setShadowOpacity(0.1);
  body->layer().setShadowRadius(10);
  body->layer().setShadowPath(body->bounds());
}

void NoticeHUDView::centerViews() {
  if (!_backgroundButton) return;
  auto body = bodyLabelButton();
  using Entries = std::vector<ViewAnimations::StackEntry>;
  Entries entries;
  if (_imageView) {
    entries = {{_imageView, iconOffset().height}, {body, _bodyOffset.height + 10}};
  } else if (_hudType == kTypeSpinner && _activityIndicator) {
    entries = {{_activityIndicator, iconOffset().height}, {body, 0}};
  } else if (_hudType == kTypeCheckMark && _checkMark) {
    entries = {{_checkMark, iconOffset().height}, {body, 10}};
  } else if (_hudType == kTypeIconLabel || (_iconLabel && !_iconLabel->text().empty())) {
    entries = {{iconLabel(), iconOffset().height}, {body, _bodyOffset.height}};
  } else {
    entries = {{body, _bodyOffset.height}};
  }
  ViewAnimations::centerViewsVerticallyWithin(*_backgroundButton, entries);
}

void NoticeHUDView::addToWindow() {
  NoticeAlertView::addToWindow();
  if (_hudHideDelay <= 0) return;
  // The timer holds the notice, as the queue does, until it fires or is invalidated.
  auto self = std::static_pointer_cast<NoticeHUDView>(shared_from_this());
  setHideTimer(platform::Timer::scheduled(platform::seconds(_hudHideDelay), false,
                                          [self](platform::Timer&) { self->dismiss(); }));
}
