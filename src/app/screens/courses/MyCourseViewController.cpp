#include "screens/courses/MyCourseViewController.h"

#include <algorithm>

#include "analytics/Analytics.h"
#include "analytics/AnalyticsDictionaryBuilder.h"
#include "analytics/AnalyticsFields.h"
#include "analytics/AnalyticsTracker.h"
#include "model/GlobalModel.h"
#include "netstatus/NetWorkUtil.h"
#include "platform/ui/NavigationController.h"
#include "screens/common/ApplicationServices.h"
#include "screens/common/ReclassCell.h"
#include "screens/common/ScreenHUD.h"
#include "screens/common/ScreenLook.h"
#include "screens/common/ScreenNotifications.h"
#include "screens/common/YearStrip.h"
#include "screens/courses/CourseDetailViewController.h"
#include "studytime/WaitingSettlement.h"
#include "widgets/MirelTabBarController.h"

namespace {

std::string orNull(const model::Text& text) { return text.value_or("(null)"); }

std::string numberText(const model::Number& number) {
  return number ? std::to_string(*number) : "(null)";
}

}  // namespace

MyCourseViewController::MyCourseViewController(std::optional<std::string> nibName)
    : PortraitOnly(std::move(nibName)) {
  setTitle(orNull(GlobalModel::sharedModel()->areaName()) + "会计继续教育");
}

void MyCourseViewController::viewDidLoad() {
  AnalyticsTrackedViewController::viewDidLoad();
  view()->setBackgroundColor(platform::Color::whiteColor());
  auto model = GlobalModel::sharedModel();
  model->setIsRefresh(true);
  _isFist = true;
  _dbService = std::make_shared<DBService>();
  _studyLogDao = std::make_shared<StudyLogDao>();
  initView();
  loadData();
  auto& center = platform::NotificationCenter::defaultCenter();
  refreshObserver_ = center.addObserver(
      kRefreshCwTable,
      [action = screenlook::weakAction(*this, &MyCourseViewController::refreshCwTable)](
          const platform::Notification&) { action(); });
  if (model->loginState() == GlobalModel::kLoginOnline) {
    listenedObserver_ = center.addObserver(
        kUpdateListenedMins,
        [action = screenlook::weakAction(*this, &MyCourseViewController::updateListenedMins)](
            const platform::Notification&) { action(); });
  }
}

void MyCourseViewController::viewDidUnload() {
  AnalyticsTrackedViewController::viewDidUnload();
  refreshObserver_.reset();
}

void MyCourseViewController::initView() {
  _tabBarController = GlobalModel::sharedModel()->tabBarViewController();
  initTopView();

  _btnRefresh = screenlook::retryButton(
      {30, 100, 162, 36}, screenlook::weakAction(*this, &MyCourseViewController::refreshBtnClick));
  view()->addSubview(_btnRefresh);
  _leftTableView =
      screenlook::listTable({0, 40, 320, screenlook::isTallScreen() ? 415.0 : 327.0}, *this);
  view()->addSubview(_leftTableView);

  _checkAreaIV = platform::ImageView::create(platform::Rect{115, 70, 95, 82});
  _checkAreaIV->setImage(platform::Image::named("select_course"));
  _checkAreaIV->setHidden(true);
  view()->addSubview(_checkAreaIV);
  _checkAreaLabel = platform::Label::create(platform::Rect{0, 180, 320, 20});
  _checkAreaLabel->setBackgroundColor(platform::Color::clearColor());
  _checkAreaLabel->setTextColor(platform::Color::rgb255(232, 232, 232));
  _checkAreaLabel->setTextAlignment(platform::TextAlignment::Center);
  _checkAreaLabel->setFont(platform::Font::boldSystemFont(17));
  _checkAreaLabel->setText("未选择课程,请用PC端登录进行选课");
  _checkAreaLabel->setHidden(true);
  view()->addSubview(_checkAreaLabel);
}

void MyCourseViewController::initTopView() {
  _topView = yearstrip::makeStrip(_topScrollView);
  view()->addSubview(_topView);
}

void MyCourseViewController::viewWillAppear(bool animated) {
  AnalyticsTrackedViewController::viewWillAppear(animated);
  appeared_ = false;
}

void MyCourseViewController::viewWillDisappear(bool animated) {
  AnalyticsTrackedViewController::viewWillDisappear(animated);
  appeared_ = false;
}

void MyCourseViewController::viewDidAppear(bool) {
  // The screen sends its own view hit instead of the base class's.
  setScreenName(std::string(kScreenName));
  if (!appeared_) sendScreenView();
  appeared_ = true;
  screenlook::showTitleOnTabBar(title().value_or(""));
  adoptRefreshedCourses();
}

void MyCourseViewController::adoptRefreshedCourses() {
  // A sync stores the server's refreshed courses in the login model; a list kept from before
  // would open lectures with their uploaded minutes missing. A fetch of our own under way
  // brings its own list.
  auto model = GlobalModel::sharedModel();
  if (screenhud::isWaitHUDShown(_progressHUD) || !model->courses() || model->courses()->empty() ||
      model->courses() == _courses)
    return;
  _courses = model->courses();
  refreshView();
}

void MyCourseViewController::sendScreenView() {
  auto hit = AnalyticsDictionaryBuilder::createAppView();
  hit->set(std::string(kScreenName), std::string(kAnalyticsScreenName));
  if (auto tracker = Analytics::sharedInstance()->defaultTracker()) tracker->send(hit->build());
}

void MyCourseViewController::loadData() {
  if (!NetWorkUtil::netWorkIsEnable()) {
    screenhud::showLoadFailure(nullptr, *_btnRefresh, *_leftTableView);
    return;
  }
  screenhud::showWaitHUD(_progressHUD, view(), "请稍候");
  _userId = GlobalModel::sharedModel()->userId();
  auto services = ApplicationServices::shared();
  if (!services || !services->netWork()) return;
  std::weak_ptr<MyCourseViewController> weak =
      std::static_pointer_cast<MyCourseViewController>(shared_from_this());
  services->netWork()->getRetrainCourseDatas(
      std::to_string(_userId),
      [weak](const model::List<Course>& courses) {
        if (auto self = weak.lock()) self->showCourses(courses);
      },
      [weak](const platform::Error&) {
        if (auto self = weak.lock())
          screenhud::showLoadFailure(self->_progressHUD, *self->_btnRefresh, *self->_leftTableView);
      });
}

void MyCourseViewController::showCourses(const model::List<Course>& courses) {
  auto model = GlobalModel::sharedModel();
  model->setCourses(_courses);
  _courses = courses;
  screenhud::hideWaitHUD(_progressHUD);
  if (courses.empty()) {
    setNotifyViewHiden(false);
    _topView->setHidden(true);
    // The notice stands alone: rows of an earlier list must not show under it.
    _leftTableView->reloadData();
    _leftTableView->setHidden(true);
    return;
  }
  setNotifyViewHiden(true);
  const model::Text& areaCode = model->areaCode();
  _dbService->refreshCourse(areaCode ? platform::Value(*areaCode) : platform::Value(), courses,
                            platform::Value(model->userId()));
  refreshView();
  model->setCourses(courses);
  // The device took a write: a settlement waiting for room goes in now.
  WaitingSettlement::shared().write();
  _btnRefresh->setHidden(true);
  _leftTableView->setHidden(false);
  model->setIsRefresh(false);
}

std::optional<std::vector<std::string>> MyCourseViewController::getYearButtonsNames(
    const model::OptionalList<Course>& courses) {
  if (!courses || courses->empty()) return std::nullopt;
  std::vector<std::string> names;
  for (const auto& course : *courses) names.push_back(numberText(course->year()));
  return names;
}

void MyCourseViewController::refreshTopView() {
  for (const auto& button : _yearButtons) button->removeFromSuperview();
  _yearButtonsNames = getYearButtonsNames(_courses);
  if (!_yearButtonsNames) {
    _yearButtons.clear();
    _topView->setHidden(true);
    return;
  }
  _yearButtons =
      yearstrip::makeButtons(*_topScrollView, *_yearButtonsNames,
                             std::static_pointer_cast<MyCourseViewController>(shared_from_this()),
                             &MyCourseViewController::tapYearButton);
  // A list with years always shows its band, also after an earlier empty answer hid it.
  _topView->setHidden(false);
}

void MyCourseViewController::refreshView() {
  refreshTopView();
  auto model = GlobalModel::sharedModel();
  if (_isFist) {
    model->setCurrentYearIndex(0);
    _isFist = false;
  }
  if (!_yearButtons.empty()) {
    // A list with fewer years than before keeps the nearest year that still exists.
    int last = static_cast<int>(_yearButtons.size()) - 1;
    model->setCurrentYearIndex(std::clamp(model->currentYearIndex(), 0, last));
    tapYearButton(*_yearButtons[model->currentYearIndex()]);
  }
  _leftTableView->reloadData();
}

void MyCourseViewController::tapYearButton(platform::Control& sender) {
  if (_yearButtons.empty()) return;
  GlobalModel::sharedModel()->setCurrentYearIndex(sender.tag());
  for (const auto& button : _yearButtons) button->setTitleColor(platform::Color::blackColor());
  if (auto* tapped = dynamic_cast<platform::Button*>(&sender))
    tapped->setTitleColor(screenlook::kAccentOrange);
  const auto* classes = selectedClasses();
  bool any = classes && !classes->empty();
  setNotifyViewHiden(any);
  _leftTableView->setHidden(!any);
  if (any) _leftTableView->reloadData();
}

void MyCourseViewController::setNotifyViewHiden(bool hidden) {
  _checkAreaIV->setHidden(hidden);
  _checkAreaLabel->setHidden(hidden);
}

bool MyCourseViewController::isContain(const std::vector<std::string>& list,
                                       const std::string& name) {
  return std::find(list.begin(), list.end(), name) != list.end();
}

const model::List<ReClass>* MyCourseViewController::selectedClasses() const {
  if (!_courses) return nullptr;
  int index = GlobalModel::sharedModel()->currentYearIndex();
  if (index < 0 || index >= static_cast<int>(_courses->size())) return nullptr;
  const auto& classes = (*_courses)[index]->reClasses();
  return classes ? &*classes : nullptr;
}

int MyCourseViewController::numberOfRowsInSection(platform::TableView&, int) {
  const auto* classes = selectedClasses();
  return classes ? static_cast<int>(classes->size()) : 0;
}

int MyCourseViewController::listenedMinutes(const ReClass& reclass) const {
  return yearstrip::listenedMinutes(*_studyLogDao, reclass, GlobalModel::sharedModel()->userId(),
                                    platform::leadingInteger(reclass.year().value_or("")));
}

std::shared_ptr<platform::TableViewCell> MyCourseViewController::cellForRowAtIndexPath(
    platform::TableView& table, const platform::IndexPath& path) {
  auto cell = std::dynamic_pointer_cast<ReclassCell>(
      table.dequeueReusableCellWithIdentifier(kCellIdentifier));
  if (!cell) cell = ReclassCell::create(platform::TableViewCellStyle::Default, kCellIdentifier);
  const auto& reclass = *(*selectedClasses())[path.row];
  cell->lisMinsLabel()->setText(std::to_string(listenedMinutes(reclass)) + "分钟");
  cell->reclassNameLabel()->setText(reclass.reClassName().value_or(""));
  cell->totalMinsLabel()->setText(numberText(reclass.totalMins()) + "分钟");
  cell->setSelectedBackgroundView(
      screenlook::filledView({0, 0, 320, kRowHeight}, screenlook::kSelectedRow));
  cell->setState(reclass.listenedMins().value_or(0) >= reclass.totalMins().value_or(0) ? 1 : 0);
  return cell;
}

void MyCourseViewController::didSelectRowAtIndexPath(platform::TableView&,
                                                     const platform::IndexPath& path) {
  const auto* classes = selectedClasses();
  if (!classes || path.row >= static_cast<int>(classes->size())) return;
  auto detail = CourseDetailViewController::create();
  detail->setCurrReclass((*classes)[path.row]);
  if (auto nav = screenlook::mainNavigationController()) nav->pushViewController(detail, true);
}
