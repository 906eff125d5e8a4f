#pragma once
// MoviePlayerController: the platform's movie player, headless. Given a content URL (an HLS
// playlist over HTTP), `play` fetches the playlist and its first segment through the platform
// URL connection; once both have arrived the duration (the sum of the playlist's #EXTINF
// durations) is known, the load state becomes playable and playback starts. While playing, the
// position advances with the shared Clock; at the end the player stops and reports that the
// movie finished. A playlist or segment that cannot be fetched or read finishes playback with an
// error. `view` is a view of the headless view tree, so screens can place the player; it shows
// the frame at the current position, decoded off the main thread from the same stream (see
// `MovieFrameDecoder`) when the view is drawn, or black while there is none.
//
// A playlist fetched over the network may name only resources on the network: a segment it
// names as a local file fails the load, as a playlist that does not read does.
//
// Promises:
// - Every notification goes to the default notification centre with the player as its object,
//   posted from the main run loop after the call or event that caused it (never from inside a
//   call), in the order of the events.
// - `currentPlaybackTime` is NaN until the movie is loaded, then stays within 0...duration.
// - Main thread only (debug builds check it at the operations that change the player).
// - As on a phone, a movie playing (or about to play) when the application leaves the
//   foreground pauses, and plays again when the application returns.

#include <cmath>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/SharedObject.h"
#include "platform/foundation/Value.h"
#include "platform/media/MediaNotifications.h"

namespace platform {

class MovieFrameDecoder;
class MovieFrameView;
class ResourceFetcher;
class View;
struct FetchResult;

// Domain of the errors about the content itself (bad status, unreadable playlist, empty
// segment, a remote playlist naming a local file); failures to reach the server keep their
// URL-loading error.
inline constexpr const char* kMoviePlayerErrorDomain = "MPMoviePlayerErrorDomain";

enum class MoviePlaybackState {
  Stopped = 0,
  Playing = 1,
  Paused = 2,
  Interrupted = 3,
  SeekingForward = 4,
  SeekingBackward = 5,
};

// A bit set.
namespace MovieLoadState {
enum : unsigned { Unknown = 0, Playable = 1, PlaythroughOK = 2, Stalled = 4 };
}

enum class MovieSourceType { Unknown = 0, File = 1, Streaming = 2 };
enum class MovieControlStyle { None = 0, Embedded = 1, Fullscreen = 2 };
enum class MovieFinishReason { PlaybackEnded = 0, PlaybackError = 1, UserExited = 2 };

enum MoviePlayerErrorCode : int {
  kMoviePlayerErrorBadStatus = 1,    // the server answered with a status other than 2xx
  kMoviePlayerErrorBadPlaylist = 2,  // not a usable media playlist, or one that names a local
                                     // file though it came from the network
  kMoviePlayerErrorEmptySegment = 3,
};

class MoviePlayerController : public std::enable_shared_from_this<MoviePlayerController> {
  CH_SHARED_OBJECT(MoviePlayerController)

 public:
  ~MoviePlayerController();
  MoviePlayerController(const MoviePlayerController&) = delete;
  MoviePlayerController& operator=(const MoviePlayerController&) = delete;

  // Setting another URL drops the movie being played or loaded (which then finishes with
  // reason PlaybackEnded) and leaves the player stopped until `play`.
  const std::string& contentURL() const { return contentURL_; }
  void setContentURL(std::string url);

  // Kept for the screens, which set them when they configure the player; playback does not
  // depend on them.
  MovieSourceType movieSourceType() const { return sourceType_; }
  void setMovieSourceType(MovieSourceType type) { sourceType_ = type; }
  MovieControlStyle controlStyle() const { return controlStyle_; }
  void setControlStyle(MovieControlStyle style) { controlStyle_ = style; }

  std::shared_ptr<View> view() const;
  // Whether the frame for a position is being decoded: a picture taken now may show the frame
  // before it.
  bool isDecodingFrame() const;

  MoviePlaybackState playbackState() const { return state_; }
  unsigned loadState() const { return loadState_; }
  // Seconds; 0 until the movie is loaded.
  double duration() const { return duration_; }

  // Seconds from the start; NaN until loaded. Setting it seeks (clamped to 0...duration); a
  // seek at or past the end while playing finishes the movie. Set before loading, it is where
  // playback starts.
  double currentPlaybackTime() const;
  void setCurrentPlaybackTime(double seconds);
  // Where playback of newly loaded content starts; a negative value means the beginning.
  double initialPlaybackTime() const { return initialPlaybackTime_; }
  void setInitialPlaybackTime(double seconds) { initialPlaybackTime_ = seconds; }

  // Loads the content if needed and plays; resumes when paused; from a stopped player that
  // reached the end, plays again from the beginning.
  void play();
  void pause();
  // Ends playback and loading; the position returns to the beginning. No finish notification.
  void stop();
  // The seeking states: the position holds still until `endSeeking` returns to the state the
  // player was in before.
  void beginSeekingForward();
  void beginSeekingBackward();
  void endSeeking();

  // The URLs of the movie being loaded or played, once known (for diagnostics and tests).
  const std::string& loadedSegmentURL() const { return segmentURL_; }

 private:
  explicit MoviePlayerController(std::string contentURL = {});

  bool isLoaded() const { return loadState_ & MovieLoadState::Playable; }
  void startLoading();
  void playlistArrived(const FetchResult& result);
  void segmentArrived(const FetchResult& result);
  void loadFailed(Error error);
  void becomeLoaded();
  void startPlaying();
  void freezePosition();
  void scheduleEnd();
  void reachEnd();
  void setState(MoviePlaybackState state);
  void setLoadState(unsigned state);
  void postFinish(MovieFinishReason reason, std::optional<Error> error);
  void post(const char* name, Dictionary userInfo = {});
  void dropContent();
  Error contentError(int code, const std::string& url, const std::string& description) const;
  void startFrames();
  void requestCurrentFrame();
  void stopFrames();
  void applicationDidEnterBackground();
  void applicationWillEnterForeground();

  std::string contentURL_;
  MovieSourceType sourceType_ = MovieSourceType::Unknown;
  MovieControlStyle controlStyle_ = MovieControlStyle::Embedded;
  std::shared_ptr<MovieFrameView> view_;

  MoviePlaybackState state_ = MoviePlaybackState::Stopped;
  MoviePlaybackState stateBeforeSeeking_ = MoviePlaybackState::Stopped;
  unsigned loadState_ = MovieLoadState::Unknown;
  double duration_ = 0;
  double initialPlaybackTime_ = -1;
  std::optional<double> pendingStart_;  // a seek made before the movie was loaded
  bool playWhenLoaded_ = false;
  double loadingDuration_ = 0;  // the playlist's, until the first segment is in

  // The position is `position_` at clock time `anchor_`, moving on from there while playing.
  double position_ = 0;
  MonoTime anchor_{};

  std::shared_ptr<ResourceFetcher> fetch_;
  std::string segmentURL_;

  // Frames of the loaded movie: the position last asked for, drawn once decoded.
  std::unique_ptr<MovieFrameDecoder> frames_;
  std::optional<double> frameTime_;
  // Paused by the application leaving the foreground; plays again when it returns.
  bool resumeInForeground_ = false;
  // Declared last: they unregister first on destruction, so no life-cycle notice reaches a
  // player being destroyed.
  ObserverToken backgroundObserver_;
  ObserverToken foregroundObserver_;
};

}  // namespace platform
