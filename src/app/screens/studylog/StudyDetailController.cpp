#include "screens/studylog/StudyDetailController.h"

#include "model/GlobalModel.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/NavigationItem.h"
#include "screens/common/LectureRules.h"
#include "screens/common/ScreenLook.h"
#include "screens/player/PlayVideoViewController.h"
#include "screens/studylog/StudyDetailCell.h"

namespace {

platform::Value valueOf(const model::Number& number) {
  return number ? platform::Value(*number) : platform::Value();
}

std::int64_t integerOf(const platform::Dictionary& dictionary, const char* key) {
  const platform::Value* value = platform::find(dictionary, key);
  return value ? value->integerValue() : 0;
}

}  // namespace

StudyDetailController::StudyDetailController() = default;

std::shared_ptr<StudyDetailController> StudyDetailController::self() {
  return std::static_pointer_cast<StudyDetailController>(shared_from_this());
}

int StudyDetailController::yearNumber() const {
  return static_cast<int>(platform::leadingInteger(_year));
}

void StudyDetailController::viewDidLoad() {
  platform::assertMainThread("StudyDetailController::viewDidLoad");
  ViewController::viewDidLoad();
  _courseWareDao = std::make_shared<CourseWareDao>();
  _modelDao = std::make_shared<ModelDao>();
  _studyLogDao = std::make_shared<StudyLogDao>();
  view()->setBackgroundColor(platform::Color::whiteColor());
  setNavBar();
  setDetailTableView();
}

void StudyDetailController::viewWillAppear(bool animated) {
  ViewController::viewWillAppear(animated);
  loadData();
}

void StudyDetailController::setNavBar() {
  navigationItem().setTitleView(
      screenlook::titleLabel({120, 0, 200, 44}, _year + "年课程听课记录"));
  navigationItem().setLeftBarButtonItem(
      screenlook::backButtonItem(screenlook::weakAction(*this, &StudyDetailController::back)));
}

void StudyDetailController::back() { screenlook::popScreen(*this); }

void StudyDetailController::setDetailTableView() {
  const bool tall = screenlook::isTallScreen();
  _detailTable = screenlook::listTable({0, 0, 320, tall ? 459.0 : 371.0}, *this);
  view()->addSubview(_detailTable);
  clearButton_ = platform::Button::buttonWithType(platform::ButtonType::Custom);
  clearButton_->setFrame({144, tall ? 469.0 : 381.0, 172, 30});
  clearButton_->setImage(platform::Image::named("btn_clear"));
  clearButton_->setImage(platform::Image::named("btn_clear_p"),
                         platform::ControlState::Highlighted);
  clearButton_->addTarget(self(), &StudyDetailController::cleanAllHistroy,
                          platform::ControlEvent::TouchUpInside);
  view()->addSubview(clearButton_);
  _noteImageView = platform::ImageView::create(platform::Rect{117.5, 100, 85, 85});
  _noteImageView->setImage(platform::Image::named("nohisoty_notify"));
  _noteImageView->setHidden(true);
  view()->addSubview(_noteImageView);
  _noteLab = platform::Label::create(platform::Rect{10, 200, 300, 30});
  _noteLab->setBackgroundColor(platform::Color::clearColor());
  _noteLab->setTextColor(platform::Color::rgb255(232, 232, 232));
  _noteLab->setText("还没有学习记录,快去我的课程学习吧");
  _noteLab->setTextAlignment(platform::TextAlignment::Center);
  _noteLab->setFont(platform::Font::systemFont(17));
  _noteLab->setHidden(true);
  view()->addSubview(_noteLab);
}

void StudyDetailController::loadData() {
  const platform::Value userId(GlobalModel::sharedModel()->userId());
  _courseLogDetailDic = _courseWareDao->queryCwInfosByUserId(userId, platform::Value(yearNumber()));
  _courseLogArrs = _modelDao->getAllListenHistory(userId, platform::Value(yearNumber()));
  const bool empty = _courseLogArrs.empty();
  _noteImageView->setHidden(!empty);
  _noteLab->setHidden(!empty);
  _detailTable->setHidden(empty);
  _detailTable->reloadData();
}

std::shared_ptr<platform::TableViewCell> StudyDetailController::cellForRowAtIndexPath(
    platform::TableView& table, const platform::IndexPath& path) {
  auto cell = std::dynamic_pointer_cast<StudyDetailCell>(
      table.dequeueReusableCellWithIdentifier(kCellIdentifier));
  if (!cell) cell = StudyDetailCell::create(platform::TableViewCellStyle::Default, std::nullopt);
  const auto& history = *_courseLogArrs[path.row];
  const auto found = _courseLogDetailDic.find(history.cwid().value_or(0));
  const platform::Dictionary facts =
      found == _courseLogDetailDic.end() ? platform::Dictionary{} : found->second;
  const platform::Value* name = platform::find(facts, "cwName");
  cell->courseTitleLab()->setText(name ? name->stringValue() : "");
  platform::Dictionary row =
      _studyLogDao->getByUserId(platform::Value(GlobalModel::sharedModel()->userId()),
                                valueOf(history.cwid()), platform::Value(yearNumber()));
  const auto studied = integerOf(facts, "listenedMinutes") + integerOf(row, "listenedpos") / 60;
  if (studied < integerOf(facts, "totalMinutes")) {
    cell->courseStateLab()->setText("学习至:" + std::to_string(studied) + "分钟");
  } else {
    cell->courseStateLab()->setText("已学完");
  }
  return cell;
}

std::shared_ptr<CourseWare> StudyDetailController::lectureForReplay(int row) {
  const auto& history = *_courseLogArrs[row];
  auto model = GlobalModel::sharedModel();
  const platform::Value userId(model->userId());
  auto lecture = _courseWareDao->queryCwByUserId(
      userId, model->areaCode() ? platform::Value(*model->areaCode()) : platform::Value(),
      platform::Value(yearNumber()), valueOf(history.reclassId()), valueOf(history.cwid()));
  if (!lecture) return nullptr;
  platform::Dictionary unsent = _studyLogDao->getByReClassId(
      platform::Value(screenlook::numberText(history.reclassId())), userId,
      platform::Value(screenlook::numberText(history.cwid())),
      platform::Value(platform::leadingInteger(history.year().value_or(""))));
  lecture->setListenedMins(lecture->listenedMins().value_or(0) +
                           integerOf(unsent, "listenedpos") / 60);
  return lecture;
}

void StudyDetailController::didSelectRowAtIndexPath(platform::TableView&,
                                                    const platform::IndexPath& path) {
  if (path.row >= static_cast<int>(_courseLogArrs.size())) return;
  _selectIndex = path.row;
  auto lecture = lectureForReplay(path.row);
  // A lecture no longer among the stored courses has nothing to play.
  if (!lecture) return;
  if (static_cast<float>(lecture->listenedMins().value_or(0)) >=
      static_cast<float>(lecture->totalMins().value_or(0))) {
    screenlook::showAlert(std::string("提示"), std::string(lecturerules::kCompleteQuestion), "取消",
                          {"确定"}, std::static_pointer_cast<platform::AlertViewDelegate>(self()),
                          kTagCompleteQuestion);
    return;
  }
  const auto& history = *_courseLogArrs[path.row];
  playVideo(platform::leadingInteger(history.year().value_or("")), history.reclassId(), lecture);
}

void StudyDetailController::cleanAllHistroy() {
  screenlook::showAlert(std::string("提示"), std::string("是否要清空本年度学习记录?"), "取消",
                        {"确定"}, std::static_pointer_cast<platform::AlertViewDelegate>(self()),
                        kTagClear);
}

void StudyDetailController::alertViewClickedButtonAtIndex(platform::AlertView& alert,
                                                          int buttonIndex) {
  if (buttonIndex != 1) return;
  if (alert.tag() == kTagClear) {
    _modelDao->deleteAllListenHistory(platform::Value(GlobalModel::sharedModel()->userId()),
                                      platform::Value(yearNumber()));
    loadData();
  } else if (alert.tag() == kTagCompleteQuestion &&
             _selectIndex < static_cast<int>(_courseLogArrs.size())) {
    auto lecture = lectureForReplay(_selectIndex);
    if (!lecture) return;
    const auto& history = *_courseLogArrs[_selectIndex];
    playVideo(platform::leadingInteger(history.year().value_or("")), history.reclassId(), lecture);
  }
}

void StudyDetailController::playVideo(model::Number year, model::Number reclassId,
                                      const std::shared_ptr<CourseWare>& courseware) {
  auto player = PlayVideoViewController::create(std::string("PlayVideoViewController"));
  player->setCw(courseware);
  player->setReclassId(reclassId);
  player->setYear(year);
  player->setEnterIndex(PlayVideoViewController::kEnterFromStudyDetail);
  if (auto nav = navigationController()) nav->presentViewController(player, true);
}
