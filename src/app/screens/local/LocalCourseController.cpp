#include "screens/local/LocalCourseController.h"

#include <algorithm>

#include "model/GlobalModel.h"
#include "platform/ui/NavigationController.h"
#include "screens/common/ApplicationServices.h"
#include "screens/common/ReclassCell.h"
#include "screens/common/ScreenLook.h"
#include "screens/common/ScreenNotifications.h"
#include "screens/common/YearStrip.h"
#include "screens/local/DownListController.h"
#include "screens/player/PlayVideoViewController.h"
#include "widgets/MirelTabBarController.h"

namespace {}  // namespace

LocalCourseController::LocalCourseController() {
  setTitle(GlobalModel::sharedModel()->areaName().value_or("(null)") + "会计继续教育");
}

std::shared_ptr<LocalCourseController> LocalCourseController::self() {
  return std::static_pointer_cast<LocalCourseController>(shared_from_this());
}

void LocalCourseController::viewDidLoad() {
  platform::assertMainThread("LocalCourseController::viewDidLoad");
  ViewController::viewDidLoad();
  view()->setBackgroundColor(platform::Color::whiteColor());
  _isFist = true;
  GlobalModel::sharedModel()->setIsRefresh(true);
  _studyLogDao = std::make_shared<StudyLogDao>();
  setLoadView();
  loadData();
  listenedObserver_ = platform::NotificationCenter::defaultCenter().addObserver(
      kUpdateListenedMins,
      [action = screenlook::weakAction(*this, &LocalCourseController::updateListenedMins)](
          const platform::Notification&) { action(); });
}

void LocalCourseController::setLoadView() {
  _tabBarController = GlobalModel::sharedModel()->tabBarViewController();
  _leftTableView =
      screenlook::listTable({0, 40, 320, screenlook::isTallScreen() ? 415.0 : 327.0}, *this);
  view()->addSubview(_leftTableView);
  std::tie(_checkAreaIV, _checkAreaLabel) = screenlook::emptyState(
      *view(), {115, 70, 95, 82}, "select_download", {0, 160, 320, 20},
      "还没有下载课程,请到我的课程进行下载,无网络也可以学习", platform::Font::boldSystemFont(12));
}

void LocalCourseController::setTopView() {
  // One strip for the screen's life; reloads only fill it again.
  if (_topView) {
    _topView->setHidden(false);
    return;
  }
  _topView = yearstrip::makeStrip(_topScrollView);
  view()->addSubview(_topView);
}

void LocalCourseController::refreshTopView() {
  for (const auto& button : _yearButtons) button->removeFromSuperview();
  _yearButtonsNames = getYearButtonsNames(_courses);
  _yearButtons.clear();
  if (!_yearButtonsNames) {
    if (_topView) _topView->setHidden(true);
    return;
  }
  _yearButtons = yearstrip::makeButtons(*_topScrollView, *_yearButtonsNames, self(),
                                        &LocalCourseController::tapYearButton);
}

std::optional<std::vector<std::string>> LocalCourseController::getYearButtonsNames(
    const model::List<Course>& courses) {
  if (courses.empty()) return std::nullopt;
  std::vector<std::string> names;
  for (const auto& course : courses) names.push_back(screenlook::numberText(course->year()));
  return names;
}

bool LocalCourseController::isContain(const std::vector<std::string>& list,
                                      const std::string& name) {
  return std::find(list.begin(), list.end(), name) != list.end();
}

void LocalCourseController::tapYearButton(platform::Control& sender) {
  if (_yearButtons.empty()) return;
  GlobalModel::sharedModel()->setDownYearIndex(sender.tag());
  for (const auto& button : _yearButtons) button->setTitleColor(platform::Color::blackColor());
  if (auto* tapped = dynamic_cast<platform::Button*>(&sender))
    tapped->setTitleColor(screenlook::kAccentOrange);
  _leftTableView->reloadData();
}

void LocalCourseController::loadData() {
  auto model = GlobalModel::sharedModel();
  _userId = model->userId();
  auto services = ApplicationServices::shared();
  if (services && services->dbService()) {
    if (model->loginState() == GlobalModel::kLoginOnline) {
      _courses = services->dbService()->getLoaclDownloadInfo(platform::Value(_userId), true);
    } else if (model->loginState() == GlobalModel::kLoginOffline) {
      _courses = services->dbService()->getLoaclDownloadInfo(platform::Value(_userId), false);
    }
  }
  if (!_courses.empty()) {
    setNotifyViewHiden(true);
    _leftTableView->setHidden(false);
    setTopView();
  } else {
    setNotifyViewHiden(false);
  }
  refreshView();
}

void LocalCourseController::refreshView() {
  refreshTopView();
  auto model = GlobalModel::sharedModel();
  if (_isFist) {
    _currSelectYear = 0;
    model->setDownYearIndex(0);
    _isFist = false;
  } else if (model->downYearIndex() >= static_cast<int>(_courses.size())) {
    model->setDownYearIndex(0);
  }
  if (model->downYearIndex() < static_cast<int>(_yearButtons.size()))
    tapYearButton(*_yearButtons[model->downYearIndex()]);
  _leftTableView->reloadData();
}

void LocalCourseController::setNotifyViewHiden(bool hidden) {
  _checkAreaIV->setHidden(hidden);
  _checkAreaLabel->setHidden(hidden);
}

const model::List<ReClass>* LocalCourseController::selectedClasses() const {
  const int index = GlobalModel::sharedModel()->downYearIndex();
  if (index < 0 || index >= static_cast<int>(_courses.size())) return nullptr;
  const auto& classes = _courses[index]->reClasses();
  return classes ? &*classes : nullptr;
}

int LocalCourseController::numberOfRowsInSection(platform::TableView&, int) {
  const auto* classes = selectedClasses();
  return classes ? static_cast<int>(classes->size()) : 0;
}

std::shared_ptr<platform::TableViewCell> LocalCourseController::cellForRowAtIndexPath(
    platform::TableView& table, const platform::IndexPath& path) {
  auto cell = std::dynamic_pointer_cast<ReclassCell>(
      table.dequeueReusableCellWithIdentifier(kCellIdentifier));
  if (!cell) cell = ReclassCell::create(platform::TableViewCellStyle::Default, kCellIdentifier);
  const auto& reclass = *(*selectedClasses())[path.row];
  const auto& year = _courses[GlobalModel::sharedModel()->downYearIndex()]->year();
  cell->reclassNameLabel()->setText(reclass.reClassName().value_or(""));
  cell->totalMinsLabel()->setText(screenlook::numberText(reclass.totalMins()) + "分钟");
  const int minutes = yearstrip::listenedMinutes(*_studyLogDao, reclass, _userId, year.value_or(0));
  cell->lisMinsLabel()->setText(std::to_string(minutes) + "分钟");
  cell->setSelectedBackgroundView(
      screenlook::filledView({0, 0, 320, kRowHeight}, screenlook::kSelectedRow));
  cell->setState(reclass.listenedMins().value_or(0) >= reclass.totalMins().value_or(0) ? 1 : 0);
  return cell;
}

void LocalCourseController::didSelectRowAtIndexPath(platform::TableView&,
                                                    const platform::IndexPath& path) {
  const auto* classes = selectedClasses();
  if (!classes || path.row >= static_cast<int>(classes->size())) return;
  auto list = DownListController::create();
  list->setCurrReclass((*classes)[path.row]);
  list->setCurrentCourse(_courses[GlobalModel::sharedModel()->downYearIndex()]);
  if (auto nav = screenlook::mainNavigationController()) nav->pushViewController(list, true);
}

void LocalCourseController::viewDidAppear(bool animated) {
  ViewController::viewDidAppear(animated);
  screenlook::showTitleOnTabBar(title().value_or(""));
  auto model = GlobalModel::sharedModel();
  if (model->downloadRefresh()) {
    loadData();
    model->setDownloadRefresh(false);
  }
}

void LocalCourseController::playVideo(model::Number year, model::Number reclassId,
                                      const std::shared_ptr<CourseWare>& courseware) {
  auto player = PlayVideoViewController::create(std::string("PlayVideoViewController"));
  player->setCw(courseware);
  player->setReclassId(reclassId);
  player->setYear(year);
  auto tabBar = _tabBarController.lock();
  if (auto nav = tabBar ? tabBar->navigationController() : nullptr)
    nav->presentViewController(player, true);
}
