#pragma once
// PlayVideoViewController: the full-screen, landscape lecture player. A screen presents it for one
// lecture (course detail with the course's lecture list, the download list and study details
// without one); it plays the lecture's playlist in the platform movie player under its own
// controls, shows the notes page on a second page, steps to the previous or next lecture of its
// list and records the last position when it closes.
//
// Study time: a one-second tick counts the seconds the movie really plays. On every tenth of a
// lecture's playing seconds, while the position lies past the lecture's credited point (the
// server's minutes plus the seconds recorded on the device and not yet uploaded), one 10-second
// step is added to the lecture's study-log row. The credited point is read afresh from the store
// each time a lecture is loaded (opening, previous, next), never taken from the presenter or from
// a shared lecture object a screen may hold stale, so an uploaded stretch is not credited again.
// Within one load every step moves it on, to the position the step was credited at (at least
// ten seconds further), so a stretch played again after a seek back is not credited twice.
// Steps and the listen history go through the run's StudyTimeBacklog, which keeps what the
// device cannot store and writes it later; seconds waiting there count as unsent.
// After 600 playing seconds without a touch, playback pauses and asks whether to go on. On the
// first start of each lecture it jumps to the first uncredited second, or to the resume position
// a presenter gave; switching or closing cancels a jump still pending.
//
// A lecture whose download is finished plays from the local media server over loopback; the
// playback URLs live inside the player, so the shared lecture objects keep their remote URLs.
// Closing happens once: a later finish notice writes no second history row and posts nothing.
//
// Main thread only.

#include <memory>
#include <optional>
#include <string>

#include "dao/CourseWareDao.h"
#include "dao/ModelDao.h"
#include "dao/StudyLogDao.h"
#include "model/CourseWare.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/media/MoviePlayerController.h"
#include "platform/media/MusicPlayerController.h"
#include "platform/media/WebView.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationBar.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/Slider.h"
#include "platform/ui/TapGestureRecognizer.h"
#include "platform/ui/ViewController.h"
#include "studytime/StudyTimeBacklog.h"

class ProgressHUD;

class PlayVideoViewController : public platform::ViewController,
                                public platform::AlertViewDelegate,
                                public platform::ScrollViewDelegate {
  CH_SHARED_OBJECT(PlayVideoViewController)

 public:
  // Where the lecture was opened from: the course detail list (previous and next shown) and the
  // study details (another playback-error text); the download list leaves the default.
  static constexpr int kEnterFromDownloadList = 0;
  static constexpr int kEnterFromCourseDetail = 1;
  static constexpr int kEnterFromStudyDetail = 3;

  static constexpr int kTagPlaybackError = 1000;
  static constexpr int kTagMobileData = 1001;
  static constexpr int kTagIdle = 1002;
  // Playing seconds without a touch after which the player asks whether to go on.
  static constexpr int kIdleLimit = 600;
  static constexpr int kStepSeconds = 10;

  ~PlayVideoViewController() override;

  // --- Set by the presenter before the player is shown ---
  const std::shared_ptr<CourseWare>& cw() const { return _cw; }
  void setCw(std::shared_ptr<CourseWare> v) { _cw = std::move(v); }
  const model::Number& reclassId() const { return _reclassId; }
  void setReclassId(model::Number v) { _reclassId = v; }
  const model::Number& year() const { return _year; }
  void setYear(model::Number v) { _year = v; }
  const model::OptionalList<CourseWare>& cws() const { return _cws; }
  void setCws(model::OptionalList<CourseWare> v) { _cws = std::move(v); }
  int cwIndex() const { return _cwIndex; }
  void setCwIndex(int v) { _cwIndex = v; }
  // Unsent local seconds of the lecture (the name notwithstanding). Kept for the presenters;
  // every lecture load reads the value from the study log itself.
  float localLisMins() const { return _localLisMins; }
  void setLocalLisMins(float v) { _localLisMins = v; }
  int enterIndex() const { return _enterIndex; }
  void setEnterIndex(int v) { _enterIndex = v; }
  // Where the first lecture's start jumps to, in seconds, instead of its first uncredited
  // second (the course detail's resume button). It never changes what counts as credited.
  const std::optional<double>& resumePosition() const { return resumePosition_; }
  void setResumePosition(std::optional<double> v) { resumePosition_ = v; }

  // --- Screen life ---
  void viewDidLoad() override;
  void viewDidDisappear(bool animated) override;
  bool shouldAutorotate() const override { return true; }
  unsigned supportedInterfaceOrientations() const override;
  bool shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation o) const override;
  platform::InterfaceOrientation preferredInterfaceOrientationForPresentation() const override {
    return platform::InterfaceOrientation::LandscapeRight;
  }
  void touchesBegan(const std::vector<platform::Touch>& touches) override;

  // --- Controls ---
  void videoControl(platform::Control& sender);
  void progressValueChange();
  void progressViewJump(platform::GestureRecognizer& tap);
  void soundProgressValueChange();
  void soundProgressViewJump(platform::GestureRecognizer& tap);
  void showSoundBar();
  void switchModel();
  void switchControlViewState();
  void setControlViewState(int state);
  void scrollViewDidScroll(platform::ScrollView& scrollView) override;
  // Closes the player (once): history row, server stopped, "UpdateListenedMins", dismissed.
  void back();
  // Switches to the previous (0) or next (1) lecture of the list; at the end of the list shows
  // "没有视频可以切换" and, with `failToClose`, closes.
  void playVideo(int direction, bool failToClose);
  void alertViewClickedButtonAtIndex(platform::AlertView& alert, int buttonIndex) override;

  // --- Movie player events ---
  void playStateChange(const platform::Notification& notification);
  void loadStateChangeNotification(const platform::Notification& notification);
  void videoPlaybackFinish(const platform::Notification& notification);
  void netWorkStateChange();
  void updateProgressView();

  // --- Study time ---
  // The one-second tick.
  void logStudyTime();
  void insertStudyLog(const CourseWare& lecture);
  void setCurrTime(double seconds);
  void insertHistroy();
  // The credited point of the lecture on screen, in seconds: as loaded, moved on by every step.
  double creditedPoint() const { return creditedUpTo_; }
  int playSecond() const { return _playSecond; }
  bool isJump() const { return _isJump; }
  // Playing seconds since the learner last touched a player: one count for the whole process.
  static int idleSeconds();
  static void setIdleSeconds(int seconds);

  // --- Offline ---
  // Decides the playback URLs of `lecture`: loopback when its download is finished (starting
  // the local media server), its own remote URLs otherwise.
  void isDownLoadVedioCw(const CourseWare& lecture);
  void startHttpServer();
  // The text after the last "/" of `url`; the whole text when there is none.
  static std::string getFileName(const std::string& url);
  // "%02d:%02d:%02d" of hours (t mod 216000) / 3600, minutes and seconds.
  static std::string toVideoTime(int seconds);

  // --- For the tests and the snapshots ---
  const std::shared_ptr<platform::MoviePlayerController>& playerController() const {
    return _playerController;
  }
  const std::string& playbackVideoUrl() const { return playbackVideoUrl_; }
  const std::string& playbackPageUrl() const { return playbackPageUrl_; }
  const std::shared_ptr<platform::Button>& backButton() const { return backButton_; }
  const std::shared_ptr<platform::Button>& btnLast() const { return _btnLast; }
  const std::shared_ptr<platform::Button>& btnPlay() const { return _btnPlay; }
  const std::shared_ptr<platform::Button>& btnNext() const { return _btnNext; }
  const std::shared_ptr<platform::Button>& btnSwitch() const { return _btnSwitch; }
  const std::shared_ptr<platform::Label>& titleLabel() const { return _titleLabel; }
  const std::shared_ptr<platform::Label>& beginLabel() const { return _beginLabel; }
  const std::shared_ptr<platform::Label>& endLabel() const { return _endLabel; }
  const std::shared_ptr<platform::Slider>& progressView() const { return _progressView; }
  const std::shared_ptr<platform::ScrollView>& scrollView() const { return _scrollView; }
  const std::shared_ptr<platform::WebView>& webView() const { return _webView; }
  const std::shared_ptr<ProgressHUD>& progressHUD() const { return _progressHUD; }
  bool isClosed() const { return closed_; }

 protected:
  explicit PlayVideoViewController(std::optional<std::string> nibName = std::nullopt);

 private:
  void initView();
  void initNavBar();
  void initControlView();
  void setPlayerController();
  // Everything a newly shown lecture needs: its playback URLs, credited point, counters and a
  // cancelled pending jump.
  void loadLecture();
  // The study-log step record of `lecture` (without its seconds).
  platform::Dictionary stepRecord(const CourseWare& lecture) const;
  void scheduleResumeJump();
  void cancelResumeJump();
  void stopPlayer();
  void backLastView();
  double screenWidth() const;
  std::string yearText() const;
  std::shared_ptr<PlayVideoViewController> self();

  std::shared_ptr<CourseWare> _cw;
  model::Number _reclassId;
  model::Number _year;
  model::OptionalList<CourseWare> _cws;
  int _cwIndex = 0;
  float _localLisMins = 0;
  int _enterIndex = kEnterFromDownloadList;

  std::shared_ptr<platform::MoviePlayerController> _playerController;
  std::shared_ptr<platform::MusicPlayerController> _applicationMusicPlayer;
  std::shared_ptr<platform::NavigationBar> _navBar;
  std::shared_ptr<platform::View> _topView;
  std::shared_ptr<platform::Label> _titleLabel;
  std::shared_ptr<platform::View> _controlView;
  std::shared_ptr<platform::ScrollView> _scrollView;
  std::shared_ptr<platform::WebView> _webView;
  std::shared_ptr<platform::View> _controlBottomView;
  std::shared_ptr<platform::Button> _btnLast;
  std::shared_ptr<platform::Button> _btnPlay;
  std::shared_ptr<platform::Button> _btnNext;
  std::shared_ptr<platform::Button> _btnSwitch;
  std::shared_ptr<platform::Button> _soundIv;
  std::shared_ptr<platform::Label> _beginLabel;
  std::shared_ptr<platform::Label> _endLabel;
  std::shared_ptr<platform::Slider> _progressView;
  std::shared_ptr<platform::Slider> _soundSlider;
  std::shared_ptr<platform::TapGestureRecognizer> _tapGR;
  std::shared_ptr<ProgressHUD> _progressHUD;
  std::shared_ptr<platform::AlertView> _alertView;
  std::shared_ptr<platform::Timer> _progressUpdateTimer;
  std::shared_ptr<platform::Timer> _studylogTimer;

  bool _isAutoNext = true;
  bool _userExit = false;
  bool isUpdateCurrTime = true;
  bool _isJump = false;
  int _controlViewState = 1;
  int _playSecond = 0;

  std::shared_ptr<StudyLogDao> _studyDao;
  std::shared_ptr<ModelDao> _modelDao;

  // Our own.
  // Where the server's credited minutes of a lecture are read from.
  std::shared_ptr<CourseWareDao> courseWareDao_;
  // The server's credited minutes of the lecture on screen, read when it was loaded.
  double creditedMinutes_ = 0;
  // Where crediting goes on from in this load, in seconds.
  double creditedUpTo_ = 0;
  std::shared_ptr<StudyTimeBacklog> backlog_;
  std::optional<double> resumePosition_;
  std::shared_ptr<platform::Button> backButton_;
  std::string playbackVideoUrl_;
  std::string playbackPageUrl_;
  bool closed_ = false;
  platform::ObserverToken mobileObserver_;
  std::vector<platform::ObserverToken> playerObservers_;
};
