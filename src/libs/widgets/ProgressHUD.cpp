#include "widgets/ProgressHUD.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/foundation/Assert.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Thread.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Screen.h"
#include "platform/ui/TextMeasurer.h"
#include "platform/ui/UINotifications.h"
#include "platform/ui/Window.h"
#include "widgets/RoundProgressView.h"

using platform::AffineTransform;
using platform::Color;
using platform::Font;
using platform::MutexLock;
using platform::Rect;
using platform::Size;
using platform::View;

namespace {

// The bounds a HUD made over `view` covers; a null view is a programming error.
Rect coveredBounds(const std::shared_ptr<View>& view) {
  if (!view) throw platform::AssertionFailure(ProgressHUD::kNilViewReason);
  return view->bounds();
}

// The platform's default length of a view animation.
constexpr double kDefaultAnimationDuration = 0.2;

}  // namespace

ProgressHUD::ProgressHUD(const std::shared_ptr<View>& view) : ProgressHUD(coveredBounds(view)) {}

ProgressHUD::ProgressHUD(const Rect& frame) : View(frame) {
  setAutoresizingMask(
      platform::Autoresizing::FlexibleLeftMargin | platform::Autoresizing::FlexibleRightMargin |
      platform::Autoresizing::FlexibleTopMargin | platform::Autoresizing::FlexibleBottomMargin);
  setOpaque(false);
  setBackgroundColor(Color::clearColor());
  setAlpha(0);
  setupLabels();
  updateIndicators();
  registerForNotifications();
}

ProgressHUD::~ProgressHUD() {
  unregisterFromNotifications();
  if (_graceTimer) _graceTimer->invalidate();
  if (_minShowTimer) _minShowTimer->invalidate();
}

// --- Class operations ---

std::shared_ptr<ProgressHUD> ProgressHUD::showHUDAddedTo(const std::shared_ptr<View>& view,
                                                         bool animated) {
  auto hud = create(view);
  view->addSubview(hud);
  hud->show(animated);
  return hud;
}

std::shared_ptr<ProgressHUD> ProgressHUD::HUDForView(const View& view) {
  const auto& subviews = view.subviews();
  for (auto it = subviews.rbegin(); it != subviews.rend(); ++it) {
    if (auto hud = std::dynamic_pointer_cast<ProgressHUD>(*it)) return hud;
  }
  return nullptr;
}

std::vector<std::shared_ptr<ProgressHUD>> ProgressHUD::allHUDsForView(const View& view) {
  std::vector<std::shared_ptr<ProgressHUD>> huds;
  for (const auto& sub : view.subviews()) {
    if (auto hud = std::dynamic_pointer_cast<ProgressHUD>(sub)) huds.push_back(hud);
  }
  return huds;
}

bool ProgressHUD::hideHUDForView(const View& view, bool animated) {
  auto hud = HUDForView(view);
  if (!hud) return false;
  hud->setRemoveFromSuperViewOnHide(true);
  hud->hide(animated);
  return true;
}

std::size_t ProgressHUD::hideAllHUDsForView(const View& view, bool animated) {
  auto huds = allHUDsForView(view);
  for (const auto& hud : huds) {
    hud->setRemoveFromSuperViewOnHide(true);
    hud->hide(animated);
  }
  return huds.size();
}

std::shared_ptr<ProgressHUD> ProgressHUD::reusableHUDForView(const std::shared_ptr<View>& view) {
  platform::assertMainThread("ProgressHUD::reusableHUDForView");
  if (!view) throw platform::AssertionFailure(kNilViewReason);
  auto hud = HUDForView(*view);
  if (!hud) hud = create(view);
  view->addSubview(hud);  // added, or brought to the front
  hud->setHidden(false);
  return hud;
}

// --- Showing and hiding ---

platform::Date ProgressHUD::now() const { return platform::Clock::shared()->now(); }

void ProgressHUD::show(bool animated) {
  platform::assertMainThread("ProgressHUD::show");
  useAnimation = animated;
  if (_graceTime > 0) {
    std::weak_ptr<ProgressHUD> weak = std::static_pointer_cast<ProgressHUD>(shared_from_this());
    if (_graceTimer) _graceTimer->invalidate();
    _graceTimer =
        platform::Timer::scheduled(platform::seconds(_graceTime), false, [weak](platform::Timer&) {
          if (auto hud = weak.lock()) hud->handleGraceTimer();
        });
    return;
  }
  setNeedsDisplay();
  showUsingAnimation(useAnimation);
}

void ProgressHUD::handleGraceTimer() {
  // A task that ended within the grace time leaves the HUD unseen.
  if (!_taskInProgress) return;
  setNeedsDisplay();
  showUsingAnimation(useAnimation);
}

void ProgressHUD::hide(bool animated) {
  platform::assertMainThread("ProgressHUD::hide");
  useAnimation = animated;
  if (_minShowTime > 0 && _showStarted) {
    double elapsed = platform::toSeconds(now() - *_showStarted);
    if (elapsed < _minShowTime) {
      std::weak_ptr<ProgressHUD> weak = std::static_pointer_cast<ProgressHUD>(shared_from_this());
      if (_minShowTimer) _minShowTimer->invalidate();
      _minShowTimer = platform::Timer::scheduled(platform::seconds(_minShowTime - elapsed), false,
                                                 [weak](platform::Timer&) {
                                                   if (auto hud = weak.lock())
                                                     hud->handleMinShowTimer();
                                                 });
      return;
    }
  }
  hideUsingAnimation(useAnimation);
}

void ProgressHUD::hide(bool animated, double delay) {
  platform::assertMainThread("ProgressHUD::hide");
  std::weak_ptr<ProgressHUD> weak = std::static_pointer_cast<ProgressHUD>(shared_from_this());
  platform::RunLoop::main()->performAfter(platform::seconds(delay), [weak, animated] {
    if (auto hud = weak.lock()) hud->hideDelayed(animated);
  });
}

void ProgressHUD::hideDelayed(bool animated) { hide(animated); }

void ProgressHUD::handleMinShowTimer() { hideUsingAnimation(useAnimation); }

void ProgressHUD::showUsingAnimation(bool animated) {
  if (animated && _animationType == kAnimationZoom) {
    setTransform(rotationTransform.concat(AffineTransform::scale(1.5, 1.5)));
  } else if (animated && _animationType == kAnimationZoomReverse) {
    setTransform(rotationTransform.concat(AffineTransform::scale(0.5, 0.5)));
  }
  _showStarted = now();
  if (!animated) {
    setAlpha(1);
    return;
  }
  View::animate(kAnimationDuration, [this] {
    setAlpha(1);
    if (_animationType == kAnimationZoom || _animationType == kAnimationZoomReverse) {
      setTransform(rotationTransform);
    }
  });
}

void ProgressHUD::hideUsingAnimation(bool animated) {
  if (animated && _showStarted) {
    std::weak_ptr<ProgressHUD> weak = std::static_pointer_cast<ProgressHUD>(shared_from_this());
    View::animate(
        kAnimationDuration,
        [this] {
          if (_animationType == kAnimationZoom) {
            setTransform(rotationTransform.concat(AffineTransform::scale(0.5, 0.5)));
          } else if (_animationType == kAnimationZoomReverse) {
            setTransform(rotationTransform.concat(AffineTransform::scale(1.5, 1.5)));
          }
          setAlpha(0.02);
        },
        [weak](bool finished) {
          if (auto hud = weak.lock()) hud->animationFinished(finished);
        });
  } else {
    setAlpha(0);
    done();
  }
  _showStarted.reset();
}

void ProgressHUD::animationFinished(bool) { done(); }

void ProgressHUD::done() {
  auto keep = shared_from_this();  // leaving the superview may drop the last owner
  setAlpha(0);
  if (auto d = delegate()) d->hudWasHidden(*this);
  if (auto completion = std::exchange(_completionBlock, nullptr)) completion();
  if (_removeFromSuperViewOnHide) removeFromSuperview();
}

// --- Tasks ---

void ProgressHUD::showWhileExecuting(std::function<void()> method, bool animated) {
  platform::assertMainThread("ProgressHUD::showWhileExecuting");
  methodForExecution = std::move(method);
  _taskInProgress = true;
  auto self = std::static_pointer_cast<ProgressHUD>(shared_from_this());
  // The thread ends on its own; the HUD stays alive until its clean-up has run on the main
  // thread, which touches the task again only then.
  platform::Thread::start("ProgressHUD", [self] {
    self->launchExecution();
    platform::RunLoop::main()->perform([self] { self->cleanUp(); });
  })->detach();
  show(animated);
}

void ProgressHUD::launchExecution() {
  if (methodForExecution) methodForExecution();
}

void ProgressHUD::showAnimated(bool animated, std::function<void()> block) {
  showAnimated(animated, std::move(block), platform::dispatch::Queue::global(), nullptr);
}

void ProgressHUD::showAnimated(bool animated, std::function<void()> block,
                               std::function<void()> completion) {
  showAnimated(animated, std::move(block), platform::dispatch::Queue::global(),
               std::move(completion));
}

void ProgressHUD::showAnimated(bool animated, std::function<void()> block,
                               std::shared_ptr<platform::dispatch::Queue> queue) {
  showAnimated(animated, std::move(block), std::move(queue), nullptr);
}

void ProgressHUD::showAnimated(bool animated, std::function<void()> block,
                               std::shared_ptr<platform::dispatch::Queue> queue,
                               std::function<void()> completion) {
  platform::assertMainThread("ProgressHUD::showAnimated");
  _taskInProgress = true;
  _completionBlock = std::move(completion);
  auto self = std::static_pointer_cast<ProgressHUD>(shared_from_this());
  if (!queue) queue = platform::dispatch::Queue::global();
  queue->async([self, block = std::move(block)] {
    if (block) block();
    platform::dispatch::Queue::main()->async([self] { self->cleanUp(); });
  });
  show(animated);
}

void ProgressHUD::cleanUp() {
  _taskInProgress = false;
  // The indicator view stays where it is; only the reference goes.
  _indicator.reset();
  methodForExecution = nullptr;
  hide(useAnimation);
}

// --- Views ---

void ProgressHUD::setupLabels() {
  for (auto* made : {&label, &detailsLabel}) {
    *made = platform::Label::create(bounds());
    (*made)->setAdjustsFontSizeToFitWidth(false);
    (*made)->setTextAlignment(platform::TextAlignment::Center);
    (*made)->setOpaque(false);
    (*made)->setBackgroundColor(Color::clearColor());
    (*made)->setTextColor(Color::whiteColor());
    addSubview(*made);
  }
  MutexLock lock(mutex_);
  label->setFont(_labelFont);
  label->setText(_labelText.value_or(""));
  detailsLabel->setFont(_detailsLabelFont);
  detailsLabel->setText(_detailsLabelText.value_or(""));
  detailsLabel->setNumberOfLines(0);
}

void ProgressHUD::updateIndicators() {
  int mode;
  std::shared_ptr<View> custom;
  {
    MutexLock lock(mutex_);
    mode = _mode;
    custom = _customView;
  }
  auto replaceWith = [this](std::shared_ptr<View> indicator) {
    if (_indicator) _indicator->removeFromSuperview();
    _indicator = std::move(indicator);
    if (_indicator) addSubview(_indicator);
  };
  switch (mode) {
    case kModeIndeterminate:
      if (!std::dynamic_pointer_cast<platform::ActivityIndicatorView>(_indicator)) {
        auto spinner =
            platform::ActivityIndicatorView::create(platform::ActivityIndicatorStyle::WhiteLarge);
        spinner->startAnimating();
        replaceWith(spinner);
      }
      break;
    case kModeDeterminate:
    case kModeAnnularDeterminate:
      if (!std::dynamic_pointer_cast<RoundProgressView>(_indicator)) {
        replaceWith(RoundProgressView::create());
      }
      // Only ever switched on: a ring stays a ring when the mode goes back to the pie.
      if (mode == kModeAnnularDeterminate) {
        std::static_pointer_cast<RoundProgressView>(_indicator)->setAnnular(true);
      }
      break;
    case kModeCustomView:
      if (_indicator != custom) replaceWith(custom);
      break;
    case kModeText:
      replaceWith(nullptr);
      break;
    default:
      break;
  }
}

void ProgressHUD::layoutSubviews() {
  if (auto parent = superview()) setFrame(parent->bounds());
  Rect b = bounds();
  double W = b.width(), H = b.height();
  double maxWidth = W - 4 * _margin;

  Size indicatorSize = _indicator ? _indicator->bounds().size : Size{};
  indicatorSize.width = std::min(indicatorSize.width, maxWidth);
  Size labelSize = label->text().empty()
                       ? Size{}
                       : platform::TextMeasurer::sizeOfLine(label->text(), label->font());
  labelSize.width = std::min(labelSize.width, maxWidth);

  double totalWidth = std::max(indicatorSize.width, labelSize.width);
  double totalHeight = indicatorSize.height + labelSize.height;
  if (indicatorSize.height > 0 && labelSize.height > 0) totalHeight += kPadding;

  double remaining = H - totalHeight - kPadding - 4 * _margin;
  Size detailsSize;
  if (!detailsLabel->text().empty() && remaining > 0) {
    detailsSize =
        platform::TextMeasurer::sizeOfText(detailsLabel->text(), detailsLabel->font(),
                                           {maxWidth, remaining}, detailsLabel->lineBreakMode());
  }
  totalWidth = std::max(totalWidth, detailsSize.width);
  totalHeight += detailsSize.height;
  bool above = indicatorSize.height > 0 || labelSize.height > 0;
  if (detailsSize.height > 0 && above) totalHeight += kPadding;
  totalHeight += 2 * _margin;

  double y = std::round((H - totalHeight) / 2) + _margin + _yOffset;
  auto place = [&](View& view, Size size) {
    double x = std::round((W - size.width) / 2) + _xOffset;
    view.setFrame({x, y, size.width, size.height});
  };
  if (_indicator) place(*_indicator, indicatorSize);
  y += indicatorSize.height;
  if (labelSize.height > 0 && indicatorSize.height > 0) y += kPadding;
  place(*label, labelSize);
  y += labelSize.height;
  if (detailsSize.height > 0 && above) y += kPadding;
  place(*detailsLabel, detailsSize);

  totalWidth += 2 * _margin;
  if (_square) {
    double side = std::max(totalWidth, totalHeight);
    if (side <= W - 2 * _margin) totalWidth = side;
    if (side <= H - 2 * _margin) totalHeight = side;
  }
  _size = {std::max(totalWidth, _minSize.width), std::max(totalHeight, _minSize.height)};
}

void ProgressHUD::drawRect(platform::GraphicsContext& context, const Rect&) {
  Rect b = bounds();
  context.save();
  // The gradient would otherwise paint the whole window.
  context.clipToRect(b);
  if (_dimBackground) {
    context.drawRadialGradient(b.center(), 0, std::min(b.width(), b.height()),
                               Color::blackColor().withAlpha(0),
                               Color::blackColor().withAlpha(0.75));
  }
  context.setFillColor(_color.value_or(Color::white(0, _opacity)));
  Rect box{std::round((b.width() - _size.width) / 2) + _xOffset,
           std::round((b.height() - _size.height) / 2) + _yOffset, _size.width, _size.height};
  context.fillRoundedRect(box, 10);
  context.restore();
}

// --- Properties set from any thread ---

int ProgressHUD::mode() const {
  MutexLock lock(mutex_);
  return _mode;
}

void ProgressHUD::setMode(int mode) {
  {
    MutexLock lock(mutex_);
    _mode = mode;
  }
  observeValueForKeyPath("mode");
}

std::shared_ptr<View> ProgressHUD::customView() const {
  MutexLock lock(mutex_);
  return _customView;
}

void ProgressHUD::setCustomView(std::shared_ptr<View> view) {
  {
    MutexLock lock(mutex_);
    _customView = std::move(view);
  }
  observeValueForKeyPath("customView");
}

std::optional<std::string> ProgressHUD::labelText() const {
  MutexLock lock(mutex_);
  return _labelText;
}

void ProgressHUD::setLabelText(std::optional<std::string> text) {
  {
    MutexLock lock(mutex_);
    _labelText = std::move(text);
  }
  observeValueForKeyPath("labelText");
}

std::optional<std::string> ProgressHUD::detailsLabelText() const {
  MutexLock lock(mutex_);
  return _detailsLabelText;
}

void ProgressHUD::setDetailsLabelText(std::optional<std::string> text) {
  {
    MutexLock lock(mutex_);
    _detailsLabelText = std::move(text);
  }
  observeValueForKeyPath("detailsLabelText");
}

Font ProgressHUD::labelFont() const {
  MutexLock lock(mutex_);
  return _labelFont;
}

void ProgressHUD::setLabelFont(const Font& font) {
  {
    MutexLock lock(mutex_);
    _labelFont = font;
  }
  observeValueForKeyPath("labelFont");
}

Font ProgressHUD::detailsLabelFont() const {
  MutexLock lock(mutex_);
  return _detailsLabelFont;
}

void ProgressHUD::setDetailsLabelFont(const Font& font) {
  {
    MutexLock lock(mutex_);
    _detailsLabelFont = font;
  }
  observeValueForKeyPath("detailsLabelFont");
}

double ProgressHUD::progress() const {
  MutexLock lock(mutex_);
  return _progress;
}

void ProgressHUD::setProgress(double progress) {
  {
    MutexLock lock(mutex_);
    _progress = progress;
  }
  observeValueForKeyPath("progress");
}

void ProgressHUD::observeValueForKeyPath(const std::string& keyPath) {
  if (platform::RunLoop::isMainThread()) return updateUIForKeypath(keyPath);
  std::weak_ptr<ProgressHUD> weak = std::static_pointer_cast<ProgressHUD>(weak_from_this().lock());
  platform::RunLoop::main()->perform([weak, keyPath] {
    if (auto hud = weak.lock()) hud->updateUIForKeypath(keyPath);
  });
}

void ProgressHUD::updateUIForKeypath(const std::string& keyPath) {
  if (keyPath == "progress") {
    if (auto round = std::dynamic_pointer_cast<RoundProgressView>(_indicator)) {
      round->setProgress(progress());
    }
    return;
  }
  if (keyPath == "mode" || keyPath == "customView") {
    updateIndicators();
  } else {
    MutexLock lock(mutex_);
    if (keyPath == "labelText") label->setText(_labelText.value_or(""));
    if (keyPath == "labelFont") label->setFont(_labelFont);
    if (keyPath == "detailsLabelText") detailsLabel->setText(_detailsLabelText.value_or(""));
    if (keyPath == "detailsLabelFont") detailsLabel->setFont(_detailsLabelFont);
  }
  setNeedsLayout();
  setNeedsDisplay();
}

// --- Orientation ---

void ProgressHUD::registerForNotifications() {
  // The token goes with the HUD, so the observer never outlives it.
  orientationObserver_ = platform::NotificationCenter::defaultCenter().addObserver(
      platform::kDeviceOrientationDidChangeNotification,
      [this](const platform::Notification&) { deviceOrientationDidChange(); });
}

void ProgressHUD::unregisterFromNotifications() { orientationObserver_.reset(); }

void ProgressHUD::deviceOrientationDidChange() {
  View* parent = superviewPointer();
  if (!parent) return;
  if (dynamic_cast<platform::Window*>(parent)) {
    setTransformForCurrentOrientation(true);
  } else {
    setBounds(parent->bounds());
    setNeedsDisplay();
  }
}

void ProgressHUD::didMoveToSuperview() {
  if (dynamic_cast<platform::Window*>(superviewPointer())) setTransformForCurrentOrientation(false);
}

void ProgressHUD::setTransformForCurrentOrientation(bool animated) {
  if (View* parent = superviewPointer()) {
    setBounds(parent->bounds());
    setNeedsDisplay();
  }
  auto orientation = platform::Screen::mainScreen().statusBarOrientation();
  double angle = platform::interfaceRotation(orientation);
  if (platform::isLandscape(orientation)) {
    Rect b = bounds();
    setBounds({0, 0, b.height(), b.width()});
  }
  rotationTransform = AffineTransform::rotation(angle);
  if (animated) {
    View::animate(kDefaultAnimationDuration, [this] { setTransform(rotationTransform); });
  } else {
    setTransform(rotationTransform);
  }
}
