#include "screens/studylog/StudyLogController.h"

#include <cstdio>

#include "model/GlobalModel.h"
#include "net/NetworkEngine.h"
#include "netstatus/NetWorkUtil.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/NavigationItem.h"
#include "screens/common/ApplicationServices.h"
#include "screens/common/AreaTableHeaderView.h"
#include "screens/common/ScreenHUD.h"
#include "screens/common/ScreenLook.h"
#include "screens/common/ScreenNotifications.h"
#include "screens/studylog/StudyDetailController.h"
#include "screens/studylog/StudyLogCell.h"
#include "studytime/StudyTimeBacklog.h"
#include "studytime/WaitingSettlement.h"
#include "util/DateUtil.h"
#include "widgets/MirelTabBarController.h"

namespace {

std::string textOf(const platform::Dictionary& summary, const char* key) {
  const platform::Value* value = platform::find(summary, key);
  return value ? value->stringValue() : "(null)";
}

std::shared_ptr<platform::Label> bandLabel(platform::View& band, const platform::Rect& frame,
                                           platform::Font font, platform::Color color,
                                           const std::string& text = {}) {
  auto label = platform::Label::create(frame);
  label->setBackgroundColor(platform::Color::clearColor());
  label->setFont(font);
  label->setTextColor(color);
  label->setText(text);
  band.addSubview(label);
  return label;
}

}  // namespace

StudyLogController::StudyLogController() = default;

std::shared_ptr<StudyLogController> StudyLogController::self() {
  return std::static_pointer_cast<StudyLogController>(shared_from_this());
}

void StudyLogController::viewDidLoad() {
  platform::assertMainThread("StudyLogController::viewDidLoad");
  ViewController::viewDidLoad();
  _studyLogDao = std::make_shared<StudyLogDao>();
  _dbService = std::make_shared<DBService>();
  view()->setBackgroundColor(platform::Color::whiteColor());
  _mirelTabController = GlobalModel::sharedModel()->tabBarViewController();
  _studyLogArr.clear();
  _modelDao = std::make_shared<ModelDao>();
  setLogPromptView();
  setStudyLogTable();
  // The screen is made anew at every login: its observation ends with it.
  listenedObserver_ = platform::NotificationCenter::defaultCenter().addObserver(
      kUpdateListenedMins,
      [action = screenlook::weakAction(*this, &StudyLogController::updateListenedMins)](
          const platform::Notification&) { action(); });
}

void StudyLogController::viewWillAppear(bool animated) {
  ViewController::viewWillAppear(animated);
  setTitle(GlobalModel::sharedModel()->areaName().value_or("(null)") + "会计继续教育");
  getAllStudyYear();
}

void StudyLogController::viewDidAppear(bool animated) {
  ViewController::viewDidAppear(animated);
  screenlook::showTitleOnTabBar(title().value_or(""));
}

void StudyLogController::noStudyLog() {
  std::tie(_checkAreaIV, _checkAreaLabel) = screenlook::emptyState(
      *view(), {115, 70, 95, 82}, "studylog", {0, 160, 320, 20},
      "还没有学习记录，快去我的课程学习吧！", platform::Font::boldSystemFont(13));
}

void StudyLogController::setLogPromptView() {
  noStudyLog();
  _logPromptView = screenlook::filledView({0, 10, 320, 75}, screenlook::kLightBand);
  auto& band = *_logPromptView;
  const auto font = platform::Font::systemFont(14);
  const auto black = platform::Color::blackColor();
  const auto orange = screenlook::kAccentOrange;
  bandLabel(band, {15, 10, 130, 20}, font, black, "本地未同步总时长：");
  _synchroTimeLab = bandLabel(band, {145, 10, 100, 20}, font, orange);
  bandLabel(band, {15, 30, 100, 20}, font, black, "上次同步时间：");
  _lastSyncTime = bandLabel(band, {115, 30, 150, 20}, font, orange, getLastSynTime());
  bandLabel(band, {15, 50, 250, 20}, platform::Font::boldSystemFont(14), orange,
            "温馨提示：请及时同步您的学习记录");
  syncButton_ = platform::Button::buttonWithType(platform::ButtonType::Custom);
  syncButton_->setFrame({230, 7, 80, 25});
  syncButton_->setImage(platform::Image::named("btn_sync"));
  syncButton_->setImage(platform::Image::named("btn_sync_p"), platform::ControlState::Highlighted);
  syncButton_->addTarget(self(), &StudyLogController::syncStudyLog,
                         platform::ControlEvent::TouchUpInside);
  band.addSubview(syncButton_);
  view()->addSubview(_logPromptView);
}

void StudyLogController::setStudyLogTable() {
  _studyLogTable =
      screenlook::listTable({0, 85, 320, screenlook::isTallScreen() ? 363.0 : 275.0}, *this);
  view()->addSubview(_studyLogTable);
}

void StudyLogController::setHidenLogPromptView(bool hidden) {
  _logPromptView->setHidden(hidden);
  _studyLogTable->setHidden(hidden);
  _checkAreaIV->setHidden(!hidden);
  _checkAreaLabel->setHidden(!hidden);
}

std::string StudyLogController::lastSyncKey() {
  auto model = GlobalModel::sharedModel();
  return model->areaCode().value_or("(null)") + "_" + std::to_string(model->userId()) +
         "_lastSyncTime";
}

std::string StudyLogController::getLastSynTime() const {
  const std::string stored = platform::UserDefaults::standard().stringForKey(lastSyncKey());
  return stored.empty() ? "无" : stored;
}

void StudyLogController::remberLastSyncTime() {
  auto& defaults = platform::UserDefaults::standard();
  defaults.set(lastSyncKey(), platform::Value(DateUtil::getCurrDateString()));
  defaults.synchronize();
}

void StudyLogController::getAllStudyYear() {
  const platform::Value userId(GlobalModel::sharedModel()->userId());
  platform::Dictionary unsynced = _studyLogDao->getUnSyncMins(userId);
  const platform::Value* seconds = platform::find(unsynced, "listenedpos");
  const int minutes = seconds ? static_cast<int>(seconds->integerValue() / 60) : 0;
  _synchroTimeLab->setText(std::to_string(minutes) + "分钟");
  _studyLogArr = _studyLogDao->getAllStudyLogByUserId(userId);
  // A year that is gone with the refresh can be neither open nor remembered.
  const int count = static_cast<int>(_studyLogArr.size());
  if (_currExpendSectionIndex >= count) _currExpendSectionIndex = -1;
  if (_lastSectionIndex >= count) _lastSectionIndex = -1;
  if (_studyLogArr.empty()) {
    setHidenLogPromptView(true);
    _studyLogTable->reloadData();
    return;
  }
  setHidenLogPromptView(false);
  _studyLogTable->reloadData();
}

std::optional<int> StudyLogController::numberOfSectionsInTableView(platform::TableView&) {
  return static_cast<int>(_studyLogArr.size());
}

int StudyLogController::numberOfRowsInSection(platform::TableView&, int section) {
  return section == _currExpendSectionIndex ? 1 : 0;
}

std::shared_ptr<AreaTableHeaderView> StudyLogController::headerAt(int section) const {
  auto found = _headerViewDics.find(std::to_string(section));
  return found == _headerViewDics.end() ? nullptr : found->second;
}

std::shared_ptr<platform::View> StudyLogController::viewForHeaderInSection(platform::TableView&,
                                                                           int section) {
  auto header = headerAt(section);
  if (!header) {
    header = AreaTableHeaderView::create(platform::Rect{0, 0, 320, kHeaderHeight});
    platform::Rect image = header->expendImageView()->frame();
    image.origin.x = 278;
    header->expendImageView()->setFrame(image);
    header->setBackgroundColor(platform::Color::clearColor());
    platform::Rect title = header->titleLabel()->frame();
    title.size.height = kHeaderHeight;
    header->titleLabel()->setFrame(title);
    // One recogniser per header for its whole life, not one more at every redraw.
    auto tap = std::make_shared<platform::TapGestureRecognizer>();
    tap->addTarget(self(), &StudyLogController::tapHeadView);
    header->addGestureRecognizer(tap);
    _headerViewDics[std::to_string(section)] = header;
  }
  header->setSelectState(section == _currExpendSectionIndex ? AreaTableHeaderView::kExpanded
                                                            : AreaTableHeaderView::kCollapsed);
  header->titleLabel()->setText(textOf(_studyLogArr[section], "year"));
  header->setTag(section);
  return header;
}

std::shared_ptr<platform::TableViewCell> StudyLogController::cellForRowAtIndexPath(
    platform::TableView& table, const platform::IndexPath& path) {
  auto cell = std::dynamic_pointer_cast<StudyLogCell>(
      table.dequeueReusableCellWithIdentifier(kCellIdentifier));
  if (!cell) cell = StudyLogCell::create(platform::TableViewCellStyle::Default, std::nullopt);
  const auto& summary = _studyLogArr[path.section];
  cell->courseTimeLab()->setText(textOf(summary, "totalMins") + "分钟");
  cell->notStudyTimeLab()->setText(textOf(summary, "unStudyMins") + "分钟");
  cell->localCourseTimeLab()->setText(textOf(summary, "localMins") + "分钟");
  const platform::Value* year = platform::find(summary, "year");
  std::string last = _modelDao->getLastListenTimeByUserId(
      platform::Value(GlobalModel::sharedModel()->userId()), year ? *year : platform::Value());
  cell->lastStudyTimeLab()->setText(last.empty() ? "您没有在此应用学习过" : last);
  return cell;
}

void StudyLogController::didSelectRowAtIndexPath(platform::TableView&,
                                                 const platform::IndexPath& path) {
  auto detail = StudyDetailController::create();
  detail->setYear(textOf(_studyLogArr[path.section], "year"));
  if (auto nav = screenlook::mainNavigationController()) nav->pushViewController(detail, true);
}

void StudyLogController::expand(int section) {
  _studyLogTable->beginUpdates();
  if (auto header = headerAt(section)) header->setSelectState(AreaTableHeaderView::kExpanded);
  _currExpendSectionIndex = section;
  _studyLogTable->insertRowsAtIndexPaths({platform::IndexPath{section, 0}},
                                         platform::TableViewRowAnimation::Fade);
  _studyLogTable->endUpdates();
  _lastSectionIndex = section;
}

void StudyLogController::tapHeadView(platform::GestureRecognizer& tap) {
  auto view = tap.view();
  if (!view) return;
  const int t = view->tag();
  // The open year is the one whose row the table shows; its header may never have been drawn.
  const int open = _currExpendSectionIndex;
  _currExpendSectionIndex = -1;
  bool nothingCollapsed = true;
  if (open != -1) {
    if (auto header = headerAt(open)) header->setSelectState(AreaTableHeaderView::kCollapsed);
    _studyLogTable->beginUpdates();
    _studyLogTable->deleteRowsAtIndexPaths({platform::IndexPath{open, 0}},
                                           platform::TableViewRowAnimation::Fade);
    _studyLogTable->endUpdates();
    nothingCollapsed = false;
  }
  if (_lastSectionIndex != t) {
    expand(t);
  } else if (nothingCollapsed && _currExpendSectionIndex == -1 && _lastSectionIndex == t) {
    expand(t);
  }
}

void StudyLogController::syncStudyLog() {
  if (!NetWorkUtil::netWorkIsEnable()) {
    screenlook::showAlert(std::string("提示"), std::string("请联网后同步"), "确定");
    return;
  }
  auto model = GlobalModel::sharedModel();
  if (model->loginState() == GlobalModel::kLoginOnline) {
    screenlook::showAlert(std::string("提示"), std::string("是否同步学习记录"), "取消", {"确定"},
                          std::static_pointer_cast<platform::AlertViewDelegate>(self()));
  } else if (model->loginState() == GlobalModel::kLoginOffline) {
    screenlook::showAlert(std::string("提示"), std::string("您目前处于离线登录状态，请在线登录"),
                          "确定", {},
                          std::static_pointer_cast<platform::AlertViewDelegate>(self()));
  }
}

void StudyLogController::alertViewClickedButtonAtIndex(platform::AlertView&, int buttonIndex) {
  if (buttonIndex != 1) return;
  auto services = ApplicationServices::shared();
  if (!services || !services->netWork()) return;
  screenhud::showWaitHUD(progressHUD_, view(), "请稍候");
  const std::string userId = std::to_string(GlobalModel::sharedModel()->userId());
  std::weak_ptr<StudyLogController> weak = self();
  auto failed = [weak](const platform::Error& error) {
    if (auto strong = weak.lock()) strong->syncFailed(error);
  };
  services->netWork()->syncStudyLog(
      userId,
      [weak, userId, failed](const std::optional<std::string>&) {
        auto strong = weak.lock();
        auto services = ApplicationServices::shared();
        if (!strong || !services || !services->netWork()) return;
        services->netWork()->getRetrainCourseDatas(
            userId,
            [weak](const model::List<Course>& courses) {
              if (auto again = weak.lock()) again->syncFinished(courses);
            },
            failed);
      },
      failed);
}

void StudyLogController::syncFinished(const model::List<Course>& courses) {
  auto model = GlobalModel::sharedModel();
  model->setCourses(courses);
  const model::Text& area = model->areaCode();
  _dbService->refreshCourse(area ? platform::Value(*area) : platform::Value(), courses,
                            platform::Value(model->userId()));
  // The device took a write: a settlement waiting for room goes in now.
  WaitingSettlement::shared().write();
  model->setIsRefresh(true);
  remberLastSyncTime();
  getAllStudyYear();
  screenhud::hideWaitHUD(progressHUD_);
  screenlook::showAlert(std::string("提示"), std::string("同步成功"), "确定");
  _lastSyncTime->setText(getLastSynTime());
}

void StudyLogController::syncFailed(const platform::Error& error) {
  screenhud::hideWaitHUD(progressHUD_);
  // The device cannot record what the server accepted, so nothing more is sent: say why, each
  // time the learner asks.
  if (error.domain() == NetworkEngine::kErrorDomain &&
      error.code() == NetworkEngine::kStudyTimeNotWritten) {
    StudyTimeBacklog::tellNoRoom();
  } else {
    // Said as the other screens say a failed fetch; silence would leave the learner to think
    // the records were brought up to date.
    screenhud::showNetworkNotice();
  }
  std::printf("sync log  error = %s\n", error.localizedDescription().c_str());
}
