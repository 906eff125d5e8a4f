#include "screens/player/PlayVideoViewController.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "alerts/NoticeHUDView.h"
#include "dao/CourseWareDao.h"
#include "download/DownloadUtil.h"
#include "httpserver/core/HTTPServer.h"
#include "model/GlobalModel.h"
#include "model/ListenHistory.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/net/URLRequest.h"
#include "platform/ui/Application.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/Screen.h"
#include "screens/common/ApplicationServices.h"
#include "screens/common/DefaultsKeys.h"
#include "screens/common/ScreenLook.h"
#include "screens/common/ScreenNotifications.h"
#include "studytime/UnsentStudyTime.h"
#include "util/DateUtil.h"
#include "widgets/ProgressHUD.h"

namespace {

// One count for every player of the process: a player opened after another goes on from where
// the last one left it.
int gIdleSeconds = 0;

constexpr double kTallWidth = 568;
constexpr double kShortWidth = 480;

std::string twoDigits(int value) {
  return value < 10 ? "0" + std::to_string(value) : std::to_string(value);
}

}  // namespace

PlayVideoViewController::PlayVideoViewController(std::optional<std::string> nibName)
    : ViewController(std::move(nibName)) {}

PlayVideoViewController::~PlayVideoViewController() {
  cancelResumeJump();
  if (_progressUpdateTimer) _progressUpdateTimer->invalidate();
  if (_studylogTimer) _studylogTimer->invalidate();
}

std::shared_ptr<PlayVideoViewController> PlayVideoViewController::self() {
  return std::static_pointer_cast<PlayVideoViewController>(shared_from_this());
}

int PlayVideoViewController::idleSeconds() { return gIdleSeconds; }
void PlayVideoViewController::setIdleSeconds(int seconds) { gIdleSeconds = seconds; }

unsigned PlayVideoViewController::supportedInterfaceOrientations() const {
  return platform::InterfaceOrientationMask::Landscape;
}

bool PlayVideoViewController::shouldAutorotateToInterfaceOrientation(
    platform::InterfaceOrientation o) const {
  return o == platform::InterfaceOrientation::LandscapeLeft ||
         o == platform::InterfaceOrientation::LandscapeRight;
}

double PlayVideoViewController::screenWidth() const {
  return screenlook::isTallScreen() ? kTallWidth : kShortWidth;
}

std::string PlayVideoViewController::yearText() const { return screenlook::numberText(_year); }

// --- Opening ---

void PlayVideoViewController::viewDidLoad() {
  platform::assertMainThread("PlayVideoViewController::viewDidLoad");
  ViewController::viewDidLoad();
  platform::Application::sharedApplication().setStatusBarStyle(2);
  std::weak_ptr<PlayVideoViewController> weak = self();
  mobileObserver_ = platform::NotificationCenter::defaultCenter().addObserver(
      kReachableViaWWAN, [weak](const platform::Notification&) {
        if (auto strong = weak.lock()) strong->netWorkStateChange();
      });
  _studyDao = std::make_shared<StudyLogDao>();
  _modelDao = std::make_shared<ModelDao>();
  courseWareDao_ = std::make_shared<CourseWareDao>();
  auto services = ApplicationServices::shared();
  backlog_ = services ? services->studyTimeBacklog() : std::make_shared<StudyTimeBacklog>();
  _applicationMusicPlayer = platform::MusicPlayerController::applicationMusicPlayer();
  initView();
  _isAutoNext = true;
  isUpdateCurrTime = true;
}

void PlayVideoViewController::initView() {
  view()->setBackgroundColor(platform::Color::blackColor());
  if (_cw) loadLecture();
  initNavBar();
  initControlView();
  setPlayerController();
  GlobalModel::sharedModel()->setIsRefresh(false);
}

void PlayVideoViewController::loadLecture() {
  cancelResumeJump();
  _isJump = false;
  // Each lecture counts its own ten seconds to its first step.
  _playSecond = 0;
  isDownLoadVedioCw(*_cw);

  auto model = GlobalModel::sharedModel();
  const platform::Value userId(model->userId());
  // The store holds the server's minutes as of the last course fetch; a lecture object that a
  // screen kept from before an upload would credit the uploaded stretch again.
  creditedMinutes_ = static_cast<double>(_cw->listenedMins().value_or(0));
  const model::Text& area = model->areaCode();
  if (auto stored = courseWareDao_->queryCwByUserId(
          userId, area ? platform::Value(*area) : platform::Value(),
          _year ? platform::Value(*_year) : platform::Value(),
          _reclassId ? platform::Value(*_reclassId) : platform::Value(),
          _cw->cwId() ? platform::Value(*_cw->cwId()) : platform::Value())) {
    if (stored->listenedMins()) creditedMinutes_ = static_cast<double>(*stored->listenedMins());
  }
  // The unsent seconds leave out a waiting settlement's seconds that those minutes count.
  const std::int64_t unsent = UnsentStudyTime::seconds(
      *_studyDao, userId, _year.value_or(0), platform::Value(screenlook::numberText(_reclassId)),
      _cw->cwId().value_or(0), static_cast<std::int64_t>(creditedMinutes_));
  _localLisMins = static_cast<float>(unsent + backlog_->waitingSeconds(stepRecord(*_cw)));
  creditedUpTo_ = creditedMinutes_ * 60.0 + _localLisMins;
}

void PlayVideoViewController::initNavBar() {
  const double w = screenWidth();
  _navBar = platform::NavigationBar::create(platform::Rect{0, 0, w, 44});
  _navBar->setTintColor(platform::Color::blackColor());
  _topView = screenlook::filledView({0, 0, w, 44}, platform::Color::blackColor());
  _navBar->addSubview(_topView);
  _titleLabel = platform::Label::create(platform::Rect{48, 0, w == kTallWidth ? 488.0 : 400.0, 44});
  _titleLabel->setTextColor(platform::Color::whiteColor());
  _titleLabel->setBackgroundColor(platform::Color::clearColor());
  _titleLabel->setFont(platform::Font::systemFont(20));
  _titleLabel->setTextAlignment(platform::TextAlignment::Center);
  _titleLabel->setText(_cw ? _cw->name().value_or("") : "");
  _topView->addSubview(_titleLabel);
  auto item = std::make_shared<platform::NavigationItem>();
  item->setTitle(std::string());
  backButton_ = platform::Button::buttonWithType(platform::ButtonType::Custom);
  backButton_->setFrame({0, 0, 44, 44});
  backButton_->setBackgroundImage(platform::Image::named("btn_video_back"));
  backButton_->addTarget(self(), &PlayVideoViewController::back,
                         platform::ControlEvent::TouchUpInside);
  item->setLeftBarButtonItem(std::make_shared<platform::BarButtonItem>(backButton_));
  _navBar->pushNavigationItem(item, false);
}

void PlayVideoViewController::initControlView() {
  const double w = screenWidth();
  const bool tall = w == kTallWidth;
  const double shift = tall ? 88 : 0;
  auto me = self();

  _controlView = platform::View::create(platform::Rect{0, 0, w, 300});
  _controlView->setBackgroundColor(platform::Color::clearColor());

  _scrollView = platform::ScrollView::create(platform::Rect{0, 44, w, 212});
  _scrollView->setBackgroundColor(platform::Color::clearColor());
  _scrollView->setPagingEnabled(true);
  _scrollView->setContentSize({w * 2, 212});
  _scrollView->setShowsHorizontalScrollIndicator(false);
  _scrollView->setDelegate(std::static_pointer_cast<platform::ScrollViewDelegate>(me));
  _tapGR = std::make_shared<platform::TapGestureRecognizer>();
  _tapGR->addTarget(me, &PlayVideoViewController::switchControlViewState);
  _scrollView->addGestureRecognizer(_tapGR);
  _webView = platform::WebView::create(platform::Rect{w, 0, w, 212});
  _webView->setScalesPageToFit(true);
  if (!playbackPageUrl_.empty()) _webView->loadRequest(platform::URLRequest(playbackPageUrl_));
  _scrollView->addSubview(_webView);
  _controlView->addSubview(_scrollView);

  _controlBottomView = screenlook::filledView({0, 256, w, 44}, platform::Color::blackColor());
  auto control = [&](const platform::Rect& frame, const char* image, int tag) {
    auto button = platform::Button::buttonWithType(platform::ButtonType::Custom);
    button->setFrame(frame);
    button->setImage(platform::Image::named(image));
    button->setTag(tag);
    button->addTarget(me, &PlayVideoViewController::videoControl,
                      platform::ControlEvent::TouchUpInside);
    _controlBottomView->addSubview(button);
    return button;
  };
  _btnLast = control({10, 10, 24, 24}, "btn_last", 0);
  _btnPlay = control({43, 7, 30, 30}, "btn_pause", 1);
  _btnNext = control({83, 10, 24, 24}, "btn_next", 2);

  auto timeLabel = [&](const platform::Rect& frame) {
    auto label = platform::Label::create(frame);
    label->setTextColor(platform::Color::whiteColor());
    label->setBackgroundColor(platform::Color::clearColor());
    label->setFont(platform::Font::systemFont(11));
    label->setText("00:00:00");
    _controlBottomView->addSubview(label);
    return label;
  };
  _beginLabel = timeLabel({115, 1, 50, 44});
  _progressView = platform::Slider::create(platform::Rect{165, 0, tall ? 255.0 : 167.0, 44});
  _progressView->setMinimumValue(0);
  _progressView->setMaximumValue(1);
  _progressView->setValue(0);
  _progressView->setThumbImage(platform::Image::named("thumb"));
  _progressView->setMaximumTrackImage(platform::Image::named("min"));
  _progressView->setMinimumTrackImage(platform::Image::named("max"));
  _progressView->addTarget(me, &PlayVideoViewController::progressValueChange,
                           platform::ControlEvent::ValueChanged);
  auto progressTap = std::make_shared<platform::TapGestureRecognizer>();
  progressTap->setCancelsTouchesInView(false);
  progressTap->addTarget(me, &PlayVideoViewController::progressViewJump);
  _progressView->addGestureRecognizer(progressTap);
  _controlBottomView->addSubview(_progressView);
  _endLabel = timeLabel({338 + shift, 1, 50, 44});

  _soundIv = platform::Button::buttonWithType(platform::ButtonType::Custom);
  _soundIv->setFrame({392 + shift, 12, 22, 22});
  _soundIv->setBackgroundImage(platform::Image::named("sound"));
  _soundIv->addTarget(me, &PlayVideoViewController::showSoundBar,
                      platform::ControlEvent::TouchUpInside);
  _controlBottomView->addSubview(_soundIv);
  _btnSwitch = platform::Button::buttonWithType(platform::ButtonType::Custom);
  _btnSwitch->setFrame({432 + shift, 12, 39, 24});
  _btnSwitch->setBackgroundImage(platform::Image::named("btn_switch_sound"));
  _btnSwitch->addTarget(me, &PlayVideoViewController::switchModel,
                        platform::ControlEvent::TouchUpInside);
  _controlBottomView->addSubview(_btnSwitch);
  _controlView->addSubview(_controlBottomView);
  _controlView->addSubview(_navBar);

  _soundSlider = platform::Slider::create(platform::Rect{354 + shift, 190, 100, 30});
  _soundSlider->setTransform(platform::AffineTransform::rotation(-M_PI / 2));
  _soundSlider->setHidden(true);
  _soundSlider->setMinimumValue(0);
  _soundSlider->setMaximumValue(1);
  _soundSlider->setValue(_applicationMusicPlayer->volume());
  _soundSlider->setThumbImage(platform::Image::named("sound_thumb"));
  _soundSlider->setMinimumTrackImage(platform::Image::named("sound_progress_bg"));
  _soundSlider->setMaximumTrackImage(platform::Image::named("sound_progress_bg"));
  _soundSlider->addTarget(me, &PlayVideoViewController::soundProgressValueChange,
                          platform::ControlEvent::ValueChanged);
  auto soundTap = std::make_shared<platform::TapGestureRecognizer>();
  soundTap->addTarget(me, &PlayVideoViewController::soundProgressViewJump);
  _soundSlider->addGestureRecognizer(soundTap);
  _controlView->addSubview(_soundSlider);

  if (_enterIndex != kEnterFromCourseDetail) {
    _btnLast->setHidden(true);
    _btnNext->setHidden(true);
    _btnPlay->setFrame({10, 7, 30, 30});
    _beginLabel->setFrame({48, 1, 50, 44});
    _progressView->setFrame({100, 0, tall ? 310.0 : 222.0, 44});
  }

  std::weak_ptr<PlayVideoViewController> weak = me;
  _progressUpdateTimer =
      platform::Timer::scheduled(platform::seconds(0.5), true, [weak](platform::Timer&) {
        if (auto strong = weak.lock()) strong->updateProgressView();
      });
  _studylogTimer =
      platform::Timer::scheduled(platform::seconds(1.0), true, [weak](platform::Timer&) {
        if (auto strong = weak.lock()) strong->logStudyTime();
      });
}

void PlayVideoViewController::setPlayerController() {
  _playerController = platform::MoviePlayerController::create();
  _playerController->setMovieSourceType(platform::MovieSourceType::Streaming);
  _playerController->setContentURL(playbackVideoUrl_);
  _playerController->setControlStyle(platform::MovieControlStyle::None);
  _playerController->view()->setFrame({0, -20, screenWidth(), 320});
  view()->addSubview(_playerController->view());
  view()->addSubview(_controlView);
  _playerController->play();
  _progressHUD = ProgressHUD::reusableHUDForView(_playerController->view());
  _progressHUD->setLabelText(std::string("正在打开视频，请稍候"));
  _progressHUD->show(true);

  auto& center = platform::NotificationCenter::defaultCenter();
  std::weak_ptr<PlayVideoViewController> weak = self();
  auto observe = [&](const char* name,
                     void (PlayVideoViewController::*method)(const platform::Notification&)) {
    playerObservers_.push_back(center.addObserver(name, _playerController.get(),
                                                  [weak, method](const platform::Notification& n) {
                                                    if (auto strong = weak.lock())
                                                      ((*strong).*method)(n);
                                                  }));
  };
  observe(platform::kMoviePlayerPlaybackStateDidChangeNotification,
          &PlayVideoViewController::playStateChange);
  observe(platform::kMoviePlayerLoadStateDidChangeNotification,
          &PlayVideoViewController::loadStateChangeNotification);
  observe(platform::kMoviePlayerPlaybackDidFinishNotification,
          &PlayVideoViewController::videoPlaybackFinish);
}

void PlayVideoViewController::viewDidDisappear(bool animated) {
  ViewController::viewDidDisappear(animated);
  if (_progressUpdateTimer) _progressUpdateTimer->invalidate();
  if (_studylogTimer) _studylogTimer->invalidate();
  _progressUpdateTimer.reset();
  _studylogTimer.reset();
  playerObservers_.clear();
}

// --- Offline ---

void PlayVideoViewController::isDownLoadVedioCw(const CourseWare& lecture) {
  auto model = GlobalModel::sharedModel();
  playbackVideoUrl_ = lecture.videoUrl().value_or("");
  playbackPageUrl_ = lecture.url().value_or("");
  auto services = ApplicationServices::shared();
  if (!services || !services->downloadDao()) return;
  const std::string area = model->areaCode().value_or("");
  const bool finished = services->downloadDao()->queryByState(
      platform::Value(model->userId()),
      lecture.cwId() ? platform::Value(*lecture.cwId()) : platform::Value(),
      platform::Value(DownloadDao::kStateFinished), platform::Value(area),
      platform::Value(yearText()));
  if (!finished) return;
  startHttpServer();
  const std::string key =
      DownloadUtil::getAbsoluteString(area, yearText(), screenlook::numberText(lecture.cwId()));
  std::uint16_t port = LocalHttpServer::configuredPort();
  if (auto server = services->httpServer()) {
    if (std::uint16_t listening = server->listeningPort()) port = listening;
  }
  const std::string base = "http://127.0.0.1:" + std::to_string(port) + "/" + key;
  playbackVideoUrl_ = base + "/" + getFileName(lecture.videoUrl().value_or(""));
  playbackPageUrl_ = base + "/leture.htm";
}

void PlayVideoViewController::startHttpServer() {
  auto services = ApplicationServices::shared();
  if (!services) return;
  if (!services->httpServer()) services->setHttpServer(std::make_shared<LocalHttpServer>());
  const std::string folder =
      platform::Paths::documents() + "/" + std::to_string(GlobalModel::sharedModel()->userId());
  if (services->downloadManager()) services->downloadManager()->setDownloadToPath(folder);
  auto server = services->httpServer();
  if (server->isRunning()) return;
  server->setDocumeentRoot();
  server->start();
}

std::string PlayVideoViewController::getFileName(const std::string& url) {
  auto slash = url.rfind('/');
  return slash == std::string::npos ? url : url.substr(slash + 1);
}

std::string PlayVideoViewController::toVideoTime(int t) {
  return twoDigits((t % 216000) / 3600) + ":" + twoDigits((t % 3600) / 60) + ":" +
         twoDigits(t % 60);
}

// --- Movie player events ---

void PlayVideoViewController::playStateChange(const platform::Notification&) {
  switch (_playerController->playbackState()) {
    case platform::MoviePlaybackState::Playing:
      isUpdateCurrTime = true;
      _btnPlay->setImage(platform::Image::named("btn_pause"));
      if (!_isJump) scheduleResumeJump();
      if (_progressHUD) _progressHUD->setHidden(true);
      break;
    case platform::MoviePlaybackState::Paused:
      _btnPlay->setImage(platform::Image::named("btn_play"));
      break;
    case platform::MoviePlaybackState::SeekingForward:
    case platform::MoviePlaybackState::SeekingBackward:
      isUpdateCurrTime = false;
      _btnPlay->setImage(platform::Image::named("btn_play"));
      break;
    default:
      break;
  }
}

void PlayVideoViewController::loadStateChangeNotification(const platform::Notification&) {
  if (_playerController->loadState() != platform::MovieLoadState::Playable) return;
  _endLabel->setText(toVideoTime(static_cast<int>(_playerController->duration())));
  if (_progressHUD) _progressHUD->setHidden(true);
}

void PlayVideoViewController::videoPlaybackFinish(const platform::Notification& notification) {
  if (closed_) return;
  if (platform::find(notification.userInfo,
                     platform::kMoviePlayerPlaybackDidFinishErrorUserInfoKey)) {
    _playerController->stop();
    screenlook::showAlert(
        std::string("提示"),
        std::string(_enterIndex == kEnterFromStudyDetail ? "此课件未下载，请在线登录播放"
                                                         : "课件不能播放!"),
        "关闭", {}, std::static_pointer_cast<AlertViewDelegate>(self()), kTagPlaybackError);
    return;
  }
  if (_userExit) {
    back();
  } else if (_isAutoNext) {
    playVideo(1, true);
  }
  _isAutoNext = true;
}

void PlayVideoViewController::updateProgressView() {
  if (!isUpdateCurrTime || !_playerController) return;
  const double position = _playerController->currentPlaybackTime();
  if (std::isnan(position)) return;
  _beginLabel->setText(toVideoTime(static_cast<int>(position)));
  const double ratio = position / _playerController->duration();
  _progressView->setValue(std::isfinite(ratio) ? ratio : 0, true);
}

void PlayVideoViewController::netWorkStateChange() {
  auto model = GlobalModel::sharedModel();
  const std::string reminder = platform::UserDefaults::standard().stringForKey(
      defaultskeys::mobileReminder(model->userId()));
  if (reminder != defaultskeys::kReminderOn ||
      model->GlobalNetWorkStatus().value_or("") != "ReachableViaWWAN")
    return;
  _playerController->pause();
  if (!_alertView) {
    _alertView =
        platform::AlertView::create(std::string("提示"), std::string("网络切换到3G是否继续听课?"),
                                    std::static_pointer_cast<AlertViewDelegate>(self()),
                                    std::string("不听"), std::vector<std::string>{"继续"});
    _alertView->setTag(kTagMobileData);
  }
  if (!_alertView->isVisible()) _alertView->show();
}

// --- Controls ---

void PlayVideoViewController::touchesBegan(const std::vector<platform::Touch>& touches) {
  gIdleSeconds = 0;
  ViewController::touchesBegan(touches);
}

void PlayVideoViewController::videoControl(platform::Control& sender) {
  switch (sender.tag()) {
    case 0:
      if (!_cws) return;
      _isAutoNext = false;
      playVideo(0, false);
      break;
    case 1:
      if (_playerController->playbackState() == platform::MoviePlaybackState::Playing) {
        _btnPlay->setImage(platform::Image::named("btn_play"));
        _playerController->pause();
      } else if (_playerController->playbackState() == platform::MoviePlaybackState::Paused) {
        _btnPlay->setImage(platform::Image::named("btn_pause"));
        _playerController->play();
      }
      break;
    case 2:
      if (!_cws) return;
      // The replaced lecture's finish notice must not advance a second time.
      _isAutoNext = false;
      playVideo(1, false);
      break;
    default:
      break;
  }
}

void PlayVideoViewController::progressValueChange() {
  gIdleSeconds = 0;
  const double position = _playerController->duration() * _progressView->value();
  _playerController->setCurrentPlaybackTime(position);
  _beginLabel->setText(toVideoTime(static_cast<int>(position)));
}

void PlayVideoViewController::progressViewJump(platform::GestureRecognizer& tap) {
  const double width = _progressView->bounds().size.width;
  if (width <= 0) return;
  _progressView->setValue(tap.locationInView(_progressView.get()).x / width);
  progressValueChange();
}

void PlayVideoViewController::soundProgressValueChange() {
  gIdleSeconds = 0;
  _applicationMusicPlayer->setVolume(_soundSlider->value());
  _soundIv->setBackgroundImage(
      platform::Image::named(_applicationMusicPlayer->volume() != 0 ? "sound" : "sound_clear"));
}

void PlayVideoViewController::soundProgressViewJump(platform::GestureRecognizer& tap) {
  // The slider stands upright: its length runs along its own x axis.
  const double length = _soundSlider->bounds().size.width;
  if (length <= 0) return;
  _soundSlider->setValue(tap.locationInView(_soundSlider.get()).x / length);
  soundProgressValueChange();
}

void PlayVideoViewController::showSoundBar() { _soundSlider->setHidden(!_soundSlider->isHidden()); }

void PlayVideoViewController::switchModel() {
  gIdleSeconds = 0;
  const double w = screenWidth();
  const double offset = _scrollView->contentOffset().x;
  if (offset == 0) {
    _scrollView->setContentOffset({w, 0}, true);
  } else if (offset >= w) {
    _scrollView->setContentOffset({0, 0}, true);
    setControlViewState(0);
  }
}

void PlayVideoViewController::switchControlViewState() {
  gIdleSeconds = 0;
  setControlViewState(_controlViewState == 1 ? 0 : 1);
}

void PlayVideoViewController::setControlViewState(int state) {
  _controlViewState = state;
  auto atLeft = [](platform::View& bar) {
    platform::Rect frame = bar.frame();
    frame.origin.x = 0;
    bar.setFrame(frame);
  };
  atLeft(*_navBar);
  atLeft(*_controlBottomView);
  if (state == 0) platform::Application::sharedApplication().setStatusBarHidden(true);
  auto nav = _navBar;
  auto bottom = _controlBottomView;
  platform::View::animate(0.2, [nav, bottom, state] {
    nav->setAlpha(state == 1 ? 1 : 0);
    bottom->setAlpha(state == 1 ? 1 : 0);
  });
  _soundSlider->setHidden(true);
}

void PlayVideoViewController::scrollViewDidScroll(platform::ScrollView& scrollView) {
  if (&scrollView != _scrollView.get() || !_navBar) return;
  const double w = screenWidth();
  double offset = scrollView.contentOffset().x;
  if (offset > w) {
    offset = w;
    scrollView.setContentOffset({w, 0});
  }
  for (platform::View* bar :
       {static_cast<platform::View*>(_navBar.get()), _controlBottomView.get()}) {
    bar->setAlpha(1);
    platform::Rect frame = bar->frame();
    frame.origin.x = w - offset;
    bar->setFrame(frame);
  }
  platform::Application::sharedApplication().setStatusBarHidden(offset == 0);
  if (offset >= 0 && offset < w) {
    _controlViewState = 0;
    _btnSwitch->setBackgroundImage(platform::Image::named("btn_switch_sound"));
  } else {
    _controlViewState = 1;
    _btnSwitch->setBackgroundImage(platform::Image::named("btn_switch_video"));
  }
  _soundSlider->setHidden(true);
}

// --- Switching and closing ---

void PlayVideoViewController::playVideo(int direction, bool failToClose) {
  if (closed_) return;
  const int count = _cws ? static_cast<int>(_cws->size()) : 0;
  if (direction == 0) {
    if (_cwIndex <= 0) {
      NoticeHUDView::hudWithBody(std::string("没有视频可以切换"), 0, 2.0, true);
      return;
    }
    _cwIndex -= 1;
  } else {
    if (_cwIndex + 1 >= count) {
      NoticeHUDView::hudWithBody(std::string("没有视频可以切换"), 0, 2.0, true);
      if (failToClose) back();
      return;
    }
    _cwIndex += 1;
  }
  _cw = (*_cws)[_cwIndex];
  // A resume position belongs to the lecture the player was opened on.
  resumePosition_.reset();
  loadLecture();
  _titleLabel->setText(_cw->name().value_or(""));
  _playerController->setContentURL(playbackVideoUrl_);
  _webView->loadRequest(platform::URLRequest(playbackPageUrl_));
  _playerController->play();
}

void PlayVideoViewController::alertViewClickedButtonAtIndex(platform::AlertView& alert,
                                                            int buttonIndex) {
  switch (alert.tag()) {
    case kTagMobileData:
      if (buttonIndex == 1) {
        _playerController->play();
      } else {
        back();
      }
      break;
    case kTagPlaybackError:
      back();
      break;
    case kTagIdle:
      if (buttonIndex == 0) {
        back();
      } else {
        _playerController->play();
      }
      break;
    default:
      break;
  }
}

void PlayVideoViewController::back() {
  if (closed_) return;
  closed_ = true;
  _userExit = true;
  cancelResumeJump();
  stopPlayer();
  insertHistroy();
  if (auto services = ApplicationServices::shared(); services && services->httpServer())
    services->httpServer()->stop();
  platform::NotificationCenter::defaultCenter().post(kUpdateListenedMins);
  backLastView();
}

void PlayVideoViewController::stopPlayer() {
  _playerController->setInitialPlaybackTime(-1.0);
  _playerController->pause();
}

void PlayVideoViewController::backLastView() {
  platform::Application::sharedApplication().setStatusBarStyle(0);
  dismissViewControllerAnimated(true);
}

// --- Study time ---

void PlayVideoViewController::logStudyTime() {
  if (!_playerController || !_cw ||
      _playerController->playbackState() != platform::MoviePlaybackState::Playing)
    return;
  ++_playSecond;
  ++gIdleSeconds;
  // A position the player cannot give yet (NaN) compares false.
  const double position = _playerController->currentPlaybackTime();
  if (position > creditedUpTo_ && _playSecond % kStepSeconds == 0) {
    insertStudyLog(*_cw);
    // Everything up to here counts as credited now: played again, it is not new.
    creditedUpTo_ = std::max(creditedUpTo_ + kStepSeconds, position);
  }
  if (gIdleSeconds % kIdleLimit == 0) {
    gIdleSeconds = 0;
    _playerController->pause();
    screenlook::showAlert(std::string("提示"),
                          std::string("您已经10分钟未与视频交互,是否继续听课？"), "取消", {"确定"},
                          std::static_pointer_cast<AlertViewDelegate>(self()), kTagIdle);
  }
}

platform::Dictionary PlayVideoViewController::stepRecord(const CourseWare& lecture) const {
  const std::string now = DateUtil::getCurrDateString();
  return platform::Dictionary{
      {"year", platform::Value(yearText())},
      {"reclassid", _reclassId ? platform::Value(*_reclassId) : platform::Value()},
      {"cwid", lecture.cwId() ? platform::Value(*lecture.cwId()) : platform::Value()},
      {"userid", platform::Value(GlobalModel::sharedModel()->userId())},
      {"createdTime", platform::Value(now)},
      {"lastUpdateTime", platform::Value(now)}};
}

void PlayVideoViewController::insertStudyLog(const CourseWare& lecture) {
  backlog_->addStep(*_studyDao, *_modelDao, stepRecord(lecture), kStepSeconds);
}

void PlayVideoViewController::scheduleResumeJump() {
  _isJump = true;
  std::optional<double> target = resumePosition_;
  if (!target && _cw) {
    const double total = static_cast<double>(_cw->totalMins().value_or(0));
    if (total > creditedMinutes_ + _localLisMins / 60.0) target = creditedPoint();
  }
  if (!target) return;
  std::weak_ptr<PlayVideoViewController> weak = self();
  platform::RunLoop::main()->performAfter(
      platform::seconds(1.0),
      [weak, at = *target] {
        if (auto strong = weak.lock()) strong->setCurrTime(at);
      },
      this);
}

void PlayVideoViewController::cancelResumeJump() {
  platform::RunLoop::main()->cancelPerforms(this);
}

void PlayVideoViewController::setCurrTime(double seconds) {
  if (closed_ || !_playerController) return;
  _playerController->setCurrentPlaybackTime(seconds);
}

void PlayVideoViewController::insertHistroy() {
  if (!_cw) return;
  auto model = GlobalModel::sharedModel();
  ListenHistory history;
  history.setAreCode(model->areaCode());
  history.setCwid(_cw->cwId());
  history.setYear(yearText());
  history.setUserId(model->userId());
  history.setReclassId(_reclassId);
  history.setLastListenTime(DateUtil::getCurrDateString());
  const double position = _playerController->currentPlaybackTime();
  // Whole seconds, toward zero; a player that never loaded has no position (NaN) and stores 0.
  history.setListenedMilliseconds(std::isfinite(position) ? static_cast<std::int64_t>(position)
                                                          : 0);
  backlog_->saveHistory(*_studyDao, *_modelDao, history);
}
