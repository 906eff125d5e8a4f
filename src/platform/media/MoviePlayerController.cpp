#include "platform/media/MoviePlayerController.h"

#include <algorithm>
#include <cctype>
#include <chrono>

#include "platform/foundation/ApplicationNotifications.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"
#include "platform/media/HLSPlaylist.h"
#include "platform/media/MovieFrameDecoder.h"
#include "platform/media/MovieFrameView.h"
#include "platform/media/ResourceFetcher.h"
#include "platform/net/URLError.h"
#include "platform/ui/View.h"

namespace platform {

namespace {

MonoTime now() { return Clock::shared()->monotonicNow(); }

bool isSuccess(int status) { return status >= 200 && status <= 299; }

bool isSeeking(MoviePlaybackState state) {
  return state == MoviePlaybackState::SeekingForward ||
         state == MoviePlaybackState::SeekingBackward;
}

std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

bool isRemote(const std::string& url) {
  auto scheme = url.substr(0, url.find(':'));
  std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return scheme == "http" || scheme == "https";
}

// The delay until `seconds` from now, rounded up to the clock's tick: an end timer that fired a
// fraction of a tick early would find the movie not quite over and wait again for nothing.
Duration delayUntil(double seconds) {
  return std::chrono::ceil<Duration>(std::chrono::duration<double>(std::max(0.0, seconds)));
}

// How far the position may move from the frame shown before another is decoded: about one
// frame of a lecture video.
constexpr double kFrameTolerance = 0.04;

}  // namespace

MoviePlayerController::MoviePlayerController(std::string contentURL)
    : contentURL_(std::move(contentURL)), view_(MovieFrameView::create()) {
  assertMainThread("MoviePlayerController::create");
  // The application posts its life cycle on the main thread, where the player lives; the tokens
  // end with the player, so `this` never outlives them.
  auto& center = NotificationCenter::defaultCenter();
  backgroundObserver_ =
      center.addObserver(kApplicationDidEnterBackgroundNotification,
                         [this](const Notification&) { applicationDidEnterBackground(); });
  foregroundObserver_ =
      center.addObserver(kApplicationWillEnterForegroundNotification,
                         [this](const Notification&) { applicationWillEnterForeground(); });
}

MoviePlayerController::~MoviePlayerController() {
  if (fetch_) fetch_->cancel();
  RunLoop::main()->cancelPerforms(this);
  view_->setDrawingObserver(nullptr);
}

std::shared_ptr<View> MoviePlayerController::view() const { return view_; }

void MoviePlayerController::setContentURL(std::string url) {
  assertMainThread("MoviePlayerController::setContentURL");
  bool hadContent = fetch_ || isLoaded();
  dropContent();
  contentURL_ = std::move(url);
  if (hadContent) postFinish(MovieFinishReason::PlaybackEnded, {});
}

double MoviePlayerController::currentPlaybackTime() const {
  if (!isLoaded()) return std::nan("");
  if (state_ != MoviePlaybackState::Playing) return position_;
  return std::min(duration_, position_ + toSeconds(now() - anchor_));
}

void MoviePlayerController::setCurrentPlaybackTime(double seconds) {
  assertMainThread("MoviePlayerController::setCurrentPlaybackTime");
  if (std::isnan(seconds)) return;
  if (!isLoaded()) {
    pendingStart_ = std::max(0.0, seconds);
    return;
  }
  position_ = std::clamp(seconds, 0.0, duration_);
  anchor_ = now();
  if (state_ == MoviePlaybackState::Playing) scheduleEnd();
}

void MoviePlayerController::play() {
  assertMainThread("MoviePlayerController::play");
  if (state_ == MoviePlaybackState::Playing) return;
  if (!isLoaded()) {
    playWhenLoaded_ = true;
    if (!fetch_) startLoading();
    return;
  }
  if (state_ == MoviePlaybackState::Stopped && position_ >= duration_) position_ = 0;
  startPlaying();
}

void MoviePlayerController::pause() {
  assertMainThread("MoviePlayerController::pause");
  // A pause asked for while in the background stands when the application returns.
  resumeInForeground_ = false;
  if (!isLoaded()) {
    playWhenLoaded_ = false;
    return;
  }
  if (state_ != MoviePlaybackState::Playing && !isSeeking(state_)) return;
  freezePosition();
  setState(MoviePlaybackState::Paused);
}

void MoviePlayerController::applicationDidEnterBackground() {
  const bool wouldPlay = state_ == MoviePlaybackState::Playing || (!isLoaded() && playWhenLoaded_);
  if (!wouldPlay) return;
  pause();
  resumeInForeground_ = true;
}

void MoviePlayerController::applicationWillEnterForeground() {
  if (!resumeInForeground_) return;
  resumeInForeground_ = false;
  play();
}

void MoviePlayerController::stop() {
  assertMainThread("MoviePlayerController::stop");
  resumeInForeground_ = false;
  if (fetch_) fetch_->cancel();
  fetch_.reset();
  playWhenLoaded_ = false;
  RunLoop::main()->cancelPerforms(this);
  position_ = 0;
  anchor_ = now();
  setState(MoviePlaybackState::Stopped);
}

void MoviePlayerController::beginSeekingForward() {
  assertMainThread("MoviePlayerController::beginSeekingForward");
  if (!isLoaded()) return;
  if (!isSeeking(state_)) stateBeforeSeeking_ = state_;
  freezePosition();
  setState(MoviePlaybackState::SeekingForward);
}

void MoviePlayerController::beginSeekingBackward() {
  assertMainThread("MoviePlayerController::beginSeekingBackward");
  if (!isLoaded()) return;
  if (!isSeeking(state_)) stateBeforeSeeking_ = state_;
  freezePosition();
  setState(MoviePlaybackState::SeekingBackward);
}

void MoviePlayerController::endSeeking() {
  assertMainThread("MoviePlayerController::endSeeking");
  if (!isSeeking(state_)) return;
  if (stateBeforeSeeking_ == MoviePlaybackState::Playing) {
    startPlaying();
  } else {
    setState(stateBeforeSeeking_);
  }
}

void MoviePlayerController::startLoading() {
  std::weak_ptr<MoviePlayerController> weak = weak_from_this();
  fetch_ = ResourceFetcher::start(URLRequest(contentURL_), true, [weak](const FetchResult& r) {
    if (auto self = weak.lock()) self->playlistArrived(r);
  });
}

void MoviePlayerController::playlistArrived(const FetchResult& result) {
  if (result.error) return loadFailed(*result.error);
  if (!isSuccess(result.statusCode)) {
    return loadFailed(contentError(
        kMoviePlayerErrorBadStatus, contentURL_,
        "The playlist answered HTTP status " + std::to_string(result.statusCode) + "."));
  }
  std::string reason;
  auto playlist = HLSPlaylist::parse(text(result.body), &reason);
  if (!playlist) {
    return loadFailed(contentError(kMoviePlayerErrorBadPlaylist, contentURL_,
                                   "The playlist cannot be read: " + reason + "."));
  }
  // A server's playlist must not make the player read this device's files (a device file
  // such as /dev/zero would be read whole on the main thread).
  if (isRemote(contentURL_)) {
    for (const auto& segment : playlist->segments()) {
      auto url = HLSPlaylist::resolve(contentURL_, segment.uri);
      if (isRemote(url)) continue;
      return loadFailed(
          contentError(kMoviePlayerErrorBadPlaylist, contentURL_,
                       "The playlist names a resource that is not on the network: " + url + "."));
    }
  }
  loadingDuration_ = playlist->duration();
  segmentURL_ = HLSPlaylist::resolve(contentURL_, playlist->segments().front().uri);
  std::weak_ptr<MoviePlayerController> weak = weak_from_this();
  fetch_ = ResourceFetcher::start(URLRequest(segmentURL_), false, [weak](const FetchResult& r) {
    if (auto self = weak.lock()) self->segmentArrived(r);
  });
}

void MoviePlayerController::segmentArrived(const FetchResult& result) {
  if (result.error) return loadFailed(*result.error);
  if (!isSuccess(result.statusCode)) {
    return loadFailed(contentError(
        kMoviePlayerErrorBadStatus, segmentURL_,
        "The first segment answered HTTP status " + std::to_string(result.statusCode) + "."));
  }
  if (result.bodyLength == 0) {
    return loadFailed(
        contentError(kMoviePlayerErrorEmptySegment, segmentURL_, "The first segment is empty."));
  }
  becomeLoaded();
}

void MoviePlayerController::loadFailed(Error error) {
  fetch_.reset();
  playWhenLoaded_ = false;
  loadingDuration_ = 0;
  setState(MoviePlaybackState::Stopped);
  postFinish(MovieFinishReason::PlaybackError, std::move(error));
}

void MoviePlayerController::becomeLoaded() {
  fetch_.reset();
  duration_ = loadingDuration_;
  double start = initialPlaybackTime_ > 0 ? initialPlaybackTime_ : 0;
  if (pendingStart_) start = *pendingStart_;
  pendingStart_.reset();
  position_ = std::clamp(start, 0.0, duration_);
  anchor_ = now();
  setLoadState(MovieLoadState::Playable);
  startFrames();
  if (!playWhenLoaded_) return;
  playWhenLoaded_ = false;
  startPlaying();
}

void MoviePlayerController::startPlaying() {
  anchor_ = now();
  setState(MoviePlaybackState::Playing);
  scheduleEnd();
}

void MoviePlayerController::freezePosition() {
  position_ = currentPlaybackTime();
  anchor_ = now();
  RunLoop::main()->cancelPerforms(this);
}

void MoviePlayerController::scheduleEnd() {
  auto loop = RunLoop::main();
  loop->cancelPerforms(this);
  std::weak_ptr<MoviePlayerController> weak = weak_from_this();
  loop->performAfter(
      delayUntil(duration_ - currentPlaybackTime()),
      [weak] {
        if (auto self = weak.lock()) self->reachEnd();
      },
      this);
}

void MoviePlayerController::reachEnd() {
  if (state_ != MoviePlaybackState::Playing) return;
  if (currentPlaybackTime() < duration_) return scheduleEnd();
  position_ = duration_;
  setState(MoviePlaybackState::Stopped);
  postFinish(MovieFinishReason::PlaybackEnded, {});
}

void MoviePlayerController::dropContent() {
  if (fetch_) fetch_->cancel();
  fetch_.reset();
  RunLoop::main()->cancelPerforms(this);
  playWhenLoaded_ = false;
  pendingStart_.reset();
  loadingDuration_ = 0;
  duration_ = 0;
  position_ = 0;
  segmentURL_.clear();
  stopFrames();
  setState(MoviePlaybackState::Stopped);
  setLoadState(MovieLoadState::Unknown);
}

void MoviePlayerController::setState(MoviePlaybackState state) {
  if (state == state_) return;
  state_ = state;
  post(kMoviePlayerPlaybackStateDidChangeNotification);
}

void MoviePlayerController::setLoadState(unsigned state) {
  if (state == loadState_) return;
  loadState_ = state;
  post(kMoviePlayerLoadStateDidChangeNotification);
}

void MoviePlayerController::postFinish(MovieFinishReason reason, std::optional<Error> error) {
  Dictionary info;
  info[kMoviePlayerPlaybackDidFinishReasonUserInfoKey] = static_cast<int>(reason);
  if (error) {
    info[kMoviePlayerPlaybackDidFinishErrorUserInfoKey] =
        Value::object(std::make_shared<Error>(std::move(*error)));
  }
  post(kMoviePlayerPlaybackDidFinishNotification, std::move(info));
}

void MoviePlayerController::post(const char* name, Dictionary userInfo) {
  std::weak_ptr<MoviePlayerController> weak = weak_from_this();
  RunLoop::main()->perform([weak, name = std::string(name), info = std::move(userInfo)] {
    auto self = weak.lock();
    if (!self) return;
    NotificationCenter::defaultCenter().post(name, Value::object(self), info);
  });
}

void MoviePlayerController::startFrames() {
  frames_ = std::make_unique<MovieFrameDecoder>(contentURL_);
  frameTime_.reset();
  std::weak_ptr<MoviePlayerController> weak = weak_from_this();
  view_->setDrawingObserver([weak] {
    if (auto self = weak.lock()) self->requestCurrentFrame();
  });
}

void MoviePlayerController::requestCurrentFrame() {
  double now = currentPlaybackTime();
  if (!frames_ || std::isnan(now)) return;
  if (frameTime_ && std::abs(*frameTime_ - now) < kFrameTolerance) return;
  frameTime_ = now;
  view_->setWaitingForFrame(true);
  std::weak_ptr<MoviePlayerController> weak = weak_from_this();
  frames_->requestFrame(now, [weak](std::shared_ptr<Image> frame) {
    auto self = weak.lock();
    if (!self) return;
    self->view_->setWaitingForFrame(false);
    // A stream that does not decode leaves the view black.
    self->view_->setFrameImage(std::move(frame));
  });
}

void MoviePlayerController::stopFrames() {
  frames_.reset();
  frameTime_.reset();
  view_->setDrawingObserver(nullptr);
  view_->setWaitingForFrame(false);
  view_->setFrameImage(nullptr);
}

bool MoviePlayerController::isDecodingFrame() const { return frames_ && frames_->isDecoding(); }

Error MoviePlayerController::contentError(int code, const std::string& url,
                                          const std::string& description) const {
  Dictionary info;
  info[kLocalizedDescriptionKey] = description;
  info[kURLErrorStringKey] = url;
  return Error(kMoviePlayerErrorDomain, code, std::move(info));
}

}  // namespace platform
