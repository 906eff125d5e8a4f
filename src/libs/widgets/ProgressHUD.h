#pragma once
// ProgressHUD: a transparent view laid over another view (a screen's root view or a window) that
// draws a rounded dark box in its middle holding an indicator, a one-line label and an optional
// multi-line details label. The indicator follows the mode: a large white activity indicator,
// a pie or a ring of RoundProgressView, a custom view, or none (text only).
//
// Showing fades it in over 0.30 s (or zooms); with a grace time it shows only if its task is
// still running when the grace time is up. Hiding waits out the minimum show time, fades out over
// 0.30 s and then is done: the delegate hears hudWasHidden, the completion runs once and, when
// asked, the HUD leaves its superview. Tasks run on a thread of their own or on a dispatch queue;
// their clean-up comes back to the main thread and hides the HUD.
//
// The HUD lays itself out again whenever its mode, custom view, texts or fonts change. Those
// and the progress may be set from any thread (a task reporting progress): the change is kept
// under a lock and its effect on the views is carried out on the main thread. Everything else
// belongs to the main thread. Sitting directly in a window, it turns itself with the interface
// when the device turns.
//
// The screens make one with a view, set a wait text, add it to the view and show it, and later
// only set it hidden; `reusableHUDForView` gives a screen its one HUD again for the next wait
// instead of piling up another.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/Queue.h"
#include "platform/foundation/Mutex.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/Font.h"
#include "platform/ui/Label.h"
#include "platform/ui/View.h"

class ProgressHUD;

class ProgressHUDDelegate {
 public:
  virtual ~ProgressHUDDelegate() = default;
  virtual void hudWasHidden(ProgressHUD&) {}
};

class ProgressHUD : public platform::View {
  CH_SHARED_OBJECT(ProgressHUD)

 public:
  // Modes.
  static constexpr int kModeIndeterminate = 0;
  static constexpr int kModeDeterminate = 1;
  static constexpr int kModeAnnularDeterminate = 2;
  static constexpr int kModeCustomView = 3;
  static constexpr int kModeText = 4;
  // Animation types: fade; zoom (grows from 1.5 on show, shrinks to 0.5 on hide); the reverse.
  static constexpr int kAnimationFade = 0;
  static constexpr int kAnimationZoom = 1;
  static constexpr int kAnimationZoomReverse = 2;
  static constexpr double kAnimationDuration = 0.30;
  static constexpr double kPadding = 4;
  static constexpr const char* kNilViewReason = "View must not be nil.";

  ~ProgressHUD() override;

  // A new HUD made over `view`, added to it and shown.
  static std::shared_ptr<ProgressHUD> showHUDAddedTo(const std::shared_ptr<platform::View>& view,
                                                     bool animated);
  // The topmost HUD among the view's subviews, or null.
  static std::shared_ptr<ProgressHUD> HUDForView(const platform::View& view);
  // Every HUD among the view's subviews, bottom first.
  static std::vector<std::shared_ptr<ProgressHUD>> allHUDsForView(const platform::View& view);
  // Hides the view's topmost HUD and removes it once hidden; false when there is none.
  static bool hideHUDForView(const platform::View& view, bool animated);
  // The same for every HUD of the view; how many there were.
  static std::size_t hideAllHUDsForView(const platform::View& view, bool animated);
  // The view's one HUD for a screen that waits again and again: the HUD already among its
  // subviews (topmost), or a new one made over it and added; either way not hidden and in front.
  // The caller sets its text and shows it. A null view fails with kNilViewReason.
  static std::shared_ptr<ProgressHUD> reusableHUDForView(
      const std::shared_ptr<platform::View>& view);

  void show(bool animated);
  void hide(bool animated);
  void hide(bool animated, double delay);
  void hideDelayed(bool animated);
  // Runs `method` (the task bound to its target and object) on a new thread while the HUD shows.
  void showWhileExecuting(std::function<void()> method, bool animated);
  void showAnimated(bool animated, std::function<void()> block);
  void showAnimated(bool animated, std::function<void()> block, std::function<void()> completion);
  void showAnimated(bool animated, std::function<void()> block,
                    std::shared_ptr<platform::dispatch::Queue> queue);
  void showAnimated(bool animated, std::function<void()> block,
                    std::shared_ptr<platform::dispatch::Queue> queue,
                    std::function<void()> completion);

  // Properties kept under the lock (any thread).
  int mode() const EXCLUDES(mutex_);
  void setMode(int mode) EXCLUDES(mutex_);
  std::shared_ptr<platform::View> customView() const EXCLUDES(mutex_);
  void setCustomView(std::shared_ptr<platform::View> view) EXCLUDES(mutex_);
  std::optional<std::string> labelText() const EXCLUDES(mutex_);
  void setLabelText(std::optional<std::string> text) EXCLUDES(mutex_);
  std::optional<std::string> detailsLabelText() const EXCLUDES(mutex_);
  void setDetailsLabelText(std::optional<std::string> text) EXCLUDES(mutex_);
  platform::Font labelFont() const EXCLUDES(mutex_);
  void setLabelFont(const platform::Font& font) EXCLUDES(mutex_);
  platform::Font detailsLabelFont() const EXCLUDES(mutex_);
  void setDetailsLabelFont(const platform::Font& font) EXCLUDES(mutex_);
  double progress() const EXCLUDES(mutex_);
  void setProgress(double progress) EXCLUDES(mutex_);

  // Main-thread properties.
  int animationType() const { return _animationType; }
  void setAnimationType(int type) { _animationType = type; }
  std::shared_ptr<ProgressHUDDelegate> delegate() const { return _delegate.lock(); }
  void setDelegate(std::weak_ptr<ProgressHUDDelegate> delegate) { _delegate = std::move(delegate); }
  double opacity() const { return _opacity; }
  void setOpacity(double opacity) { _opacity = opacity; }
  std::optional<platform::Color> color() const { return _color; }
  void setColor(std::optional<platform::Color> color) { _color = color; }
  std::shared_ptr<platform::View> indicator() const { return _indicator; }
  void setIndicator(std::shared_ptr<platform::View> indicator) {
    _indicator = std::move(indicator);
  }
  double xOffset() const { return _xOffset; }
  void setXOffset(double x) { _xOffset = x; }
  double yOffset() const { return _yOffset; }
  void setYOffset(double y) { _yOffset = y; }
  platform::Size minSize() const { return _minSize; }
  void setMinSize(platform::Size size) { _minSize = size; }
  bool isSquare() const { return _square; }
  void setSquare(bool square) { _square = square; }
  double margin() const { return _margin; }
  void setMargin(double margin) { _margin = margin; }
  bool dimBackground() const { return _dimBackground; }
  void setDimBackground(bool dim) { _dimBackground = dim; }
  double graceTime() const { return _graceTime; }
  void setGraceTime(double seconds) { _graceTime = seconds; }
  double minShowTime() const { return _minShowTime; }
  void setMinShowTime(double seconds) { _minShowTime = seconds; }
  std::shared_ptr<platform::Timer> graceTimer() const { return _graceTimer; }
  std::shared_ptr<platform::Timer> minShowTimer() const { return _minShowTimer; }
  bool taskInProgress() const { return _taskInProgress; }
  void setTaskInProgress(bool running) { _taskInProgress = running; }
  bool removeFromSuperViewOnHide() const { return _removeFromSuperViewOnHide; }
  void setRemoveFromSuperViewOnHide(bool remove) { _removeFromSuperViewOnHide = remove; }
  std::optional<platform::Date> showStarted() const { return _showStarted; }
  // The box size of the last layout.
  platform::Size size() const { return _size; }
  std::function<void()> completionBlock() const { return _completionBlock; }
  void setCompletionBlock(std::function<void()> block) { _completionBlock = std::move(block); }
  // The turn for the interface orientation (identity unless it sits in a turned window).
  platform::AffineTransform currentRotationTransform() const { return rotationTransform; }
  // The two labels (made at creation).
  std::shared_ptr<platform::Label> labelView() const { return label; }
  std::shared_ptr<platform::Label> detailsLabelView() const { return detailsLabel; }

  void layoutSubviews() override;
  void drawRect(platform::GraphicsContext& context, const platform::Rect& rect) override;
  void didMoveToSuperview() override;

 protected:
  explicit ProgressHUD(const platform::Rect& frame);
  // Covers the view's bounds; the caller adds it. Also the window form.
  explicit ProgressHUD(const std::shared_ptr<platform::View>& view);

 private:
  void handleGraceTimer();
  void handleMinShowTimer();
  void showUsingAnimation(bool animated);
  void hideUsingAnimation(bool animated);
  void animationFinished(bool finished);
  void done();
  void launchExecution();
  void cleanUp();
  void setupLabels();
  void updateIndicators();
  void registerForNotifications();
  void unregisterFromNotifications();
  // A property changed: its effect on the views happens now on the main thread, or is sent
  // there from any other.
  void observeValueForKeyPath(const std::string& keyPath);
  void updateUIForKeypath(const std::string& keyPath);
  void deviceOrientationDidChange();
  void setTransformForCurrentOrientation(bool animated);
  platform::Date now() const;

  // Main thread only.
  bool useAnimation = false;
  std::function<void()> methodForExecution;
  std::shared_ptr<platform::Label> label;
  std::shared_ptr<platform::Label> detailsLabel;
  platform::AffineTransform rotationTransform;
  int _animationType = kAnimationFade;
  std::weak_ptr<ProgressHUDDelegate> _delegate;
  double _opacity = 0.8;
  std::optional<platform::Color> _color;
  std::shared_ptr<platform::View> _indicator;
  double _xOffset = 0;
  double _yOffset = 0;
  platform::Size _minSize;
  bool _square = false;
  double _margin = 20;
  bool _dimBackground = false;
  double _graceTime = 0;
  double _minShowTime = 0;
  std::shared_ptr<platform::Timer> _graceTimer;
  std::shared_ptr<platform::Timer> _minShowTimer;
  bool _taskInProgress = false;
  bool _removeFromSuperViewOnHide = false;
  std::optional<platform::Date> _showStarted;
  platform::Size _size;
  std::function<void()> _completionBlock;
  platform::ObserverToken orientationObserver_;

  // Guarded by mutex_: set from any thread.
  mutable platform::Mutex mutex_;
  int _mode GUARDED_BY(mutex_) = kModeIndeterminate;
  std::shared_ptr<platform::View> _customView GUARDED_BY(mutex_);
  std::optional<std::string> _labelText GUARDED_BY(mutex_);
  std::optional<std::string> _detailsLabelText GUARDED_BY(mutex_);
  platform::Font _labelFont GUARDED_BY(mutex_) = platform::Font::boldSystemFont(16);
  platform::Font _detailsLabelFont GUARDED_BY(mutex_) = platform::Font::boldSystemFont(12);
  double _progress GUARDED_BY(mutex_) = 0;
};
