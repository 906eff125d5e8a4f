#include "platform/media/MoviePlayerController.h"

#include <algorithm>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/media/HLSPlaylist.h"
#include "platform/media/ResourceFetcher.h"
#include "platform/net/URLError.h"
#include "platform/ui/View.h"

namespace platform {

const char* const kMoviePlayerPlaybackStateDidChangeNotification =
    "MPMoviePlayerPlaybackStateDidChangeNotification";
const char* const kMoviePlayerLoadStateDidChangeNotification =
    "MPMoviePlayerLoadStateDidChangeNotification";
const char* const kMoviePlayerPlaybackDidFinishNotification =
    "MPMoviePlayerPlaybackDidFinishNotification";
const char* const kMoviePlayerPlaybackDidFinishReasonUserInfoKey =
    "MPMoviePlayerPlaybackDidFinishReasonUserInfoKey";
const char* const kMoviePlayerPlaybackDidFinishErrorUserInfoKey = "error";
const char* const kMoviePlayerErrorDomain = "MPMoviePlayerErrorDomain";

namespace {

MonoTime now() { return Clock::shared()->monotonicNow(); }

bool isSuccess(int status) { return status >= 200 && status <= 299; }

bool isSeeking(MoviePlaybackState state) {
  return state == MoviePlaybackState::SeekingForward ||
         state == MoviePlaybackState::SeekingBackward;
}

std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

}  // namespace

std::shared_ptr<MoviePlayerController> MoviePlayerController::make(std::string contentURL) {
  return std::make_shared<MoviePlayerController>(Passkey{}, std::move(contentURL));
}

MoviePlayerController::MoviePlayerController(Passkey, std::string contentURL)
    : contentURL_(std::move(contentURL)), view_(std::make_shared<View>()) {
  view_->setBackgroundColor(Color::blackColor());
}

MoviePlayerController::~MoviePlayerController() {
  if (fetch_) fetch_->cancel();
  RunLoop::main()->cancelPerforms(this);
}

void MoviePlayerController::setContentURL(std::string url) {
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
  if (!isLoaded()) {
    playWhenLoaded_ = false;
    return;
  }
  if (state_ != MoviePlaybackState::Playing && !isSeeking(state_)) return;
  freezePosition();
  setState(MoviePlaybackState::Paused);
}

void MoviePlayerController::stop() {
  if (fetch_) fetch_->cancel();
  fetch_.reset();
  playWhenLoaded_ = false;
  RunLoop::main()->cancelPerforms(this);
  position_ = 0;
  anchor_ = now();
  setState(MoviePlaybackState::Stopped);
}

void MoviePlayerController::beginSeekingForward() {
  if (!isLoaded()) return;
  if (!isSeeking(state_)) stateBeforeSeeking_ = state_;
  freezePosition();
  setState(MoviePlaybackState::SeekingForward);
}

void MoviePlayerController::beginSeekingBackward() {
  if (!isLoaded()) return;
  if (!isSeeking(state_)) stateBeforeSeeking_ = state_;
  freezePosition();
  setState(MoviePlaybackState::SeekingBackward);
}

void MoviePlayerController::endSeeking() {
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
  double remaining = std::max(0.0, duration_ - currentPlaybackTime());
  std::weak_ptr<MoviePlayerController> weak = weak_from_this();
  loop->performAfter(
      platform::seconds(remaining),
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

Error MoviePlayerController::contentError(int code, const std::string& url,
                                          const std::string& description) const {
  Dictionary info;
  info[kLocalizedDescriptionKey] = description;
  info[kURLErrorStringKey] = url;
  return Error(kMoviePlayerErrorDomain, code, std::move(info));
}

}  // namespace platform
