#include "screens/local/DownListController.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "download/DownloadNotifications.h"
#include "download/DownloadUtil.h"
#include "model/GlobalModel.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/Paths.h"
#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/NavigationItem.h"
#include "screens/common/ApplicationServices.h"
#include "screens/common/LectureRules.h"
#include "screens/common/ScreenLook.h"
#include "screens/local/DownLoadCell.h"
#include "screens/player/PlayVideoViewController.h"

namespace {

platform::Value valueOf(const model::Number& number) {
  return number ? platform::Value(*number) : platform::Value();
}

std::shared_ptr<platform::Button> listButton(const platform::Rect& frame, const std::string& title,
                                             const char* background, const char* pressed,
                                             platform::Color titleColor) {
  auto button = platform::Button::buttonWithType(platform::ButtonType::Custom);
  button->setFrame(frame);
  button->setTitle(title);
  button->setTitleColor(titleColor);
  button->setBackgroundImage(platform::Image::named(background));
  button->setBackgroundImage(platform::Image::named(pressed), platform::ControlState::Highlighted);
  return button;
}

}  // namespace

DownListController::DownListController() = default;

std::shared_ptr<DownListController> DownListController::self() {
  return std::static_pointer_cast<DownListController>(shared_from_this());
}

std::string DownListController::keyFor(const std::string& year, const CourseWare& lecture) const {
  return DownloadUtil::getAbsoluteString(GlobalModel::sharedModel()->areaCode().value_or(""), year,
                                         screenlook::numberText(lecture.cwId()));
}

void DownListController::viewDidLoad() {
  platform::assertMainThread("DownListController::viewDidLoad");
  ViewController::viewDidLoad();
  view()->setBackgroundColor(platform::Color::whiteColor());
  _studyLogDao = std::make_shared<StudyLogDao>();
  setNavBar();
  _isCheckBox = true;
  _isDownLoaded = false;
  _finishDownLoadArr.clear();
  _userId = GlobalModel::sharedModel()->userId();
  setDownLoadlist();
  getReclassView(_currReclass);
  std::weak_ptr<DownListController> weak = self();
  for (const char* name : {kChangP, kCellFinish, kCellNetworkError}) {
    observers_.push_back(platform::NotificationCenter::defaultCenter().addObserver(
        name, [weak](const platform::Notification& n) {
          if (auto strong = weak.lock()) strong->setDownProgressAndState(n);
        }));
  }
}

void DownListController::setNavBar() {
  navigationItem().setTitleView(screenlook::titleLabel({120, 0, 200, 44}, "课程详情"));
  navigationItem().setLeftBarButtonItem(
      screenlook::backButtonItem(screenlook::weakAction(*this, &DownListController::back)));
}

void DownListController::back() { screenlook::popScreen(*this); }

void DownListController::setDownLoadlist() {
  const bool tall = screenlook::isTallScreen();
  const double y = tall ? 458 : 370;
  const double h = tall ? 363 : 275;
  auto me = self();
  _reClessLab = platform::Label::create(platform::Rect{10, 0, 300, 60});
  _reClessLab->setBackgroundColor(platform::Color::clearColor());
  _reClessLab->setTextAlignment(platform::TextAlignment::Center);
  _reClessLab->setFont(platform::Font::systemFont(19));
  _reClessLab->setText(_currReclass ? _currReclass->reClassName().value_or("") : "");
  view()->addSubview(_reClessLab);
  auto caption = platform::Label::create(platform::Rect{10, 57, 100, 27});
  caption->setBackgroundColor(platform::Color::clearColor());
  caption->setText("课程列表");
  view()->addSubview(caption);
  auto segment = [&](double x, const std::string& title, int tag) {
    auto button = listButton({x, 57, 82, 27}, title, "btn_cancel_p", "btn_cancel",
                             platform::Color::blackColor());
    button->titleLabel()->setFont(platform::Font::systemFont(13));
    button->setTag(tag);
    button->addTarget(me, &DownListController::downLoadClick,
                      platform::ControlEvent::TouchUpInside);
    view()->addSubview(button);
    return button;
  };
  const bool online = GlobalModel::sharedModel()->loginState() == GlobalModel::kLoginOnline;
  if (online) {
    _downLingBtn = segment(146, "下载中（0）", 201);
    _downLingBtn->setEnabled(false);
  }
  _downLoadBtn = segment(228, "已下载（0）", 202);
  if (GlobalModel::sharedModel()->loginState() == GlobalModel::kLoginOffline) downLoadClick();
  view()->addSubview(screenlook::filledView({10, 84, 300, 1}, screenlook::kSeparator));
  _downListTable = screenlook::listTable({10, 85, 300, h}, *this);
  _downListTable->setSeparatorStyle(platform::TableViewCellSeparatorStyle::SingleLine);
  _downListTable->setAllowsSelectionDuringEditing(true);
  _downListTable->setTableFooterView(platform::View::create(platform::Rect{}));
  view()->addSubview(_downListTable);

  _editBtn = platform::Button::buttonWithType(platform::ButtonType::Custom);
  _editBtn->setFrame({220, y, 90, 35});
  _editBtn->setImage(platform::Image::named("btn_selectAll"));
  _editBtn->setImage(platform::Image::named("btn_selectAll_p"),
                     platform::ControlState::Highlighted);
  _editBtn->addTarget(me, &DownListController::editBtnClick, platform::ControlEvent::TouchUpInside);
  view()->addSubview(_editBtn);
  auto editButton = [&](double x, const std::string& title, const char* background,
                        const char* pressed, platform::Color color,
                        void (DownListController::*action)()) {
    auto button = listButton({x, y, 90, 30}, title, background, pressed, color);
    button->setHidden(true);
    button->addTarget(me, action, platform::ControlEvent::TouchUpInside);
    view()->addSubview(button);
    return button;
  };
  _deleteBtn = editButton(20, "删除(0)", "btn_normal", "btn_normal_p",
                          platform::Color::whiteColor(), &DownListController::delClick);
  _selectAllBtn = editButton(120, "全选", "btn_cancel", "btn_cancel_p",
                             platform::Color::blackColor(), &DownListController::selectAllClick);
  _cancleBtn = editButton(220, "取消", "btn_cancel", "btn_cancel_p", platform::Color::blackColor(),
                          &DownListController::cancelAllClick);
}

void DownListController::getReclassView(const std::shared_ptr<ReClass>& course) {
  if (!course) return;
  auto model = GlobalModel::sharedModel();
  auto services = ApplicationServices::shared();
  if (!services || !services->downloadDao()) return;
  auto& dao = *services->downloadDao();
  const platform::Value userId(_userId);
  const platform::Value area(model->areaCode().value_or(""));
  const platform::Value year(course->year().value_or(""));
  _finishDownLoadArr =
      dao.queryArrayByState(userId, valueOf(course->reClassId()),
                            platform::Value(DownloadDao::kStateFinished), area, year);
  _finishReclass = std::make_shared<ReClass>();
  model::List<CourseWare> finished;
  for (const auto& row : _finishDownLoadArr) {
    if (!course->cws()) break;
    for (const auto& lecture : *course->cws())
      if (lecture->cwId() == row->cwid()) finished.push_back(lecture);
  }
  _finishReclass->setCws(finished);
  _finishReclass->setReClassId(course->reClassId());
  _finishReclass->setYear(course->year());
  _finishFlags.assign(finished.size(), false);
  _downLoadBtn->setTitle("已下载(" + std::to_string(finished.size()) + ")");

  if (model->loginState() == GlobalModel::kLoginOnline) {
    model::List<CourseWare> downloading;
    if (course->cws()) {
      for (const auto& lecture : *course->cws()) {
        if (dao.queryByState(userId, valueOf(lecture->cwId()),
                             platform::Value(DownloadDao::kStateQueued), area, year))
          downloading.push_back(lecture);
      }
    }
    _downloadingReclass = std::make_shared<ReClass>();
    _downloadingReclass->setCws(downloading);
    _downloadingReclass->setYear(course->year());
    if (_downLingBtn) _downLingBtn->setTitle("下载中(" + std::to_string(downloading.size()) + ")");
    _selFlagsArrs.assign(downloading.size(), false);
  }
  refershDelBtn();
  _downListTable->reloadData();
}

void DownListController::downLoadClick() {
  if (_selectIndex) {
    if (_downLingBtn) _downLingBtn->setEnabled(false);
    _downLoadBtn->setEnabled(true);
    _selectIndex = _isDownLoaded = false;
  } else {
    if (_downLingBtn) _downLingBtn->setEnabled(true);
    _downLoadBtn->setEnabled(false);
    _selectIndex = _isDownLoaded = true;
  }
  if (_downListTable) _downListTable->reloadData();
}

int DownListController::numberOfRowsInSection(platform::TableView&, int) {
  const auto& list = shownList();
  return list && list->cws() ? static_cast<int>(list->cws()->size()) : 0;
}

std::shared_ptr<platform::TableViewCell> DownListController::cellForRowAtIndexPath(
    platform::TableView&, const platform::IndexPath& path) {
  auto cell = DownLoadCell::create(platform::TableViewCellStyle::Default, std::nullopt);
  cell->setSelectionStyle(platform::TableViewCellSelectionStyle::None);
  cell->setBackgroundView(platform::View::create(platform::Rect{0, 0, 320, kRowHeight}));
  const auto& lecture = *(*shownList()->cws())[path.row];
  const auto& flags = _isDownLoaded ? _finishFlags : _selFlagsArrs;
  if (!flags.empty()) cell->setMSelected(flags[path.row]);
  cell->nameLabel()->setText(lecture.name().value_or(""));
  if (_isDownLoaded) {
    cell->setDonwloadState(6);
    cell->stateLab()->setHidden(true);
    cell->progressLab()->setHidden(true);
  } else {
    cell->stateLab()->setHidden(false);
    cell->progressLab()->setHidden(false);
    cell->setDonwloadState(5);
    refreshDownloadingState(*cell, lecture);
  }
  return cell;
}

void DownListController::refreshDownloadingState(DownLoadCell& row, const CourseWare& lecture) {
  auto services = ApplicationServices::shared();
  if (!services || !services->downloadManager() || !_downloadingReclass) return;
  const auto& manager = *services->downloadManager();
  const std::string key = keyFor(_downloadingReclass->year().value_or(""), lecture);
  if (manager.currentCwId() == key) {
    row.setDonwloadState(4);
  } else if (manager.pauseDic().count(key)) {
    row.setDonwloadState(2);
  } else if (manager.isDownloading().count(key)) {
    row.setDonwloadState(0);
  }
}

std::shared_ptr<DownLoadCell> DownListController::rowOnScreen(int row) const {
  return std::dynamic_pointer_cast<DownLoadCell>(
      _downListTable->cellForRowAtIndexPath(platform::IndexPath{0, row}));
}

void DownListController::setDownProgressAndState(const platform::Notification& notification) {
  const platform::Value* keyValue = platform::find(notification.userInfo, "cwId");
  if (!keyValue || !_downloadingReclass || !_downloadingReclass->cws()) return;
  const std::string key = keyValue->stringValue();
  const auto cwId = DownloadUtil::getAbsoluteToRealCWId(key);
  const auto year = DownloadUtil::getAbsoluteToRealYear(key);
  auto model = GlobalModel::sharedModel();
  if (notification.name == kCellFinish && year) {
    // Recorded whether or not the row is on screen: the lecture is on the device now.
    if (auto services = ApplicationServices::shared(); services && services->downloadDao())
      services->downloadDao()->update(platform::Value(model->userId()), platform::Value(cwId),
                                      platform::Value(DownloadDao::kStateFinished),
                                      platform::Value(model->areaCode().value_or("")),
                                      platform::Value(platform::leadingInteger(*year)));
  }
  const auto& list = *_downloadingReclass->cws();
  int found = -1;
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i]->cwId().value_or(-1) == cwId && year == _downloadingReclass->year()) {
      found = static_cast<int>(i);
      break;
    }
  }
  if (found < 0 || _isDownLoaded) return;
  auto row = rowOnScreen(found);
  if (!row) return;
  if (notification.name == kChangP) {
    row->stateLab()->setText("正在下载");
    row->setDonwloadState(4);
    const platform::Value* progress = platform::find(notification.userInfo, "progress");
    const double percent =
        static_cast<float>(platform::leadingDouble(progress ? progress->stringValue() : "")) * 100;
    if (percent != 0)
      row->progressLab()->setText("( " + std::to_string(static_cast<int>(percent)) + "% )");
  } else if (notification.name == kCellFinish) {
    row->setDonwloadState(1);
    row->progressLab()->setText("");
    getReclassView(_currReclass);
  } else {
    row->setDonwloadState(3);
    // A full disk is no network failure: retrying helps only once space is freed.
    if (isNoSpaceError(notification)) row->stateLab()->setText(kNoSpaceText);
  }
}

bool DownListController::isNoSpaceError(const platform::Notification& notification) {
  const platform::Value* value = platform::find(notification.userInfo, kErrorKey);
  auto error = value ? value->object<platform::Error>() : nullptr;
  return error && error->domain() == platform::kPOSIXErrorDomain && error->code() == ENOSPC;
}

void DownListController::didSelectRowAtIndexPath(platform::TableView&,
                                                 const platform::IndexPath& path) {
  if (!_isDownLoaded) {
    _selectedDownLoading = path.row;
    if (_downListTable->isEditing()) {
      toggleMark(path.row);
    } else {
      tapDownloading(path.row);
    }
    return;
  }
  if (_downListTable->isEditing()) {
    toggleMark(path.row);
    return;
  }
  _clickCWIndex = path.row;
  const auto& lecture = (*_finishReclass->cws())[path.row];
  if (lecturerules::isNotForMobile(*lecture)) {
    screenlook::showAlert(std::string("提示"), std::string(lecturerules::kNoMobileVideoMessage),
                          "确定", {},
                          std::static_pointer_cast<platform::AlertViewDelegate>(self()));
    return;
  }
  const model::Number year =
      _currentCourse ? _currentCourse->year()
                     : model::Number(platform::leadingInteger(_currReclass->year().value_or("")));
  if (static_cast<float>(lecture->listenedMins().value_or(0)) >=
      static_cast<float>(lecture->totalMins().value_or(0))) {
    screenlook::showAlert(std::string("提示"), std::string(lecturerules::kCompleteQuestion), "取消",
                          {"确定"}, std::static_pointer_cast<platform::AlertViewDelegate>(self()),
                          kTagCompleteQuestion);
    return;
  }
  playVideo(year, _finishReclass->reClassId(), lecture);
}

void DownListController::tapDownloading(int row) {
  auto services = ApplicationServices::shared();
  if (!services || !services->downloadManager()) return;
  auto& manager = *services->downloadManager();
  auto cell = rowOnScreen(row);
  if (!cell) return;
  const auto& lecture = (*_downloadingReclass->cws())[row];
  const std::string key = keyFor(_downloadingReclass->year().value_or(""), *lecture);
  switch (cell->donwloadState()) {
    case 2:
      manager.resumeDownload(key);
      break;
    case 4:
    case 0:
      manager.pauseDownload(key);
      platform::Application::sharedApplication().setIdleTimerDisabled(manager.downingCount() != 0);
      services->updateIdleTimer();
      break;
    case 5:
    case 3:
      manager.addDownlodTask(lecture, key);
      cell->setDonwloadState(0);
      break;
    default:
      break;
  }
  refreshDownloadingState(*cell, *lecture);
}

void DownListController::toggleMark(int row) {
  auto cell = rowOnScreen(row);
  auto& flags = shownFlags();
  if (row >= static_cast<int>(flags.size())) return;
  if (cell) {
    cell->changeMSelectedState();
    flags[row] = cell->mSelected();
  } else {
    flags[row] = !flags[row];
  }
  refershDelBtn();
}

void DownListController::editBtnClick() {
  _downListTable->setEditing(true, true);
  _editBtn->setHidden(true);
  _deleteBtn->setHidden(false);
  _selectAllBtn->setHidden(false);
  _cancleBtn->setHidden(false);
}

void DownListController::cancelAllClick() {
  finishViewCancel(_isDownLoaded);
  refershDelBtn();
  _downListTable->setEditing(false, true);
  _deleteBtn->setHidden(true);
  _selectAllBtn->setHidden(true);
  _cancleBtn->setHidden(true);
  _editBtn->setHidden(false);
}

void DownListController::finishViewCancel(bool downloaded) {
  auto& flags = downloaded ? _finishFlags : _selFlagsArrs;
  for (std::size_t i = 0; i < flags.size(); ++i) {
    if (downloaded == _isDownLoaded) {
      if (auto cell = rowOnScreen(static_cast<int>(i))) {
        cell->setMSelected(false);
        cell->setNeedsLayout();
      }
    }
    flags[i] = false;
  }
}

void DownListController::isSelectAll() {
  _isAllSelceted = true;
  for (bool flag : shownFlags())
    if (!flag) _isAllSelceted = false;
}

void DownListController::selectAllClick() {
  _isCheckBox = true;
  isSelectAll();
  auto& flags = shownFlags();
  for (std::size_t i = 0; i < flags.size(); ++i) {
    flags[i] = !_isAllSelceted;
    if (auto cell = rowOnScreen(static_cast<int>(i))) {
      cell->setMSelected(flags[i]);
      cell->setNeedsLayout();
    }
  }
  refershDelBtn();
}

void DownListController::refershDelBtn() {
  _selectedCount = 0;
  for (bool flag : shownFlags())
    if (flag) ++_selectedCount;
  _deleteBtn->setTitle("删除(" + std::to_string(_selectedCount) + ")");
}

void DownListController::viewChecked(CheckBox& box) {
  if (!_isCheckBox) return;
  for (std::size_t i = 0; i < _selFlagsArrs.size(); ++i) {
    _selFlagsArrs[i] = box.checked();
    if (!_isDownLoaded) {
      if (auto cell = rowOnScreen(static_cast<int>(i))) {
        cell->setMSelected(box.checked());
        cell->setNeedsLayout();
      }
    }
  }
}

void DownListController::delClick() {
  if (_selectedCount == 0) {
    screenlook::showAlert(std::string("提示"), std::string("请选择需要删除的课件！"), "确定", {},
                          {}, kTagNothingMarked);
    return;
  }
  screenlook::showAlert(std::string("提示"), std::string("是否要删除选中的课程？"), "取消",
                        {"确定"}, std::static_pointer_cast<platform::AlertViewDelegate>(self()),
                        kTagDelete);
}

void DownListController::deleteMarked() {
  auto services = ApplicationServices::shared();
  if (!services || !services->downloadDao()) return;
  auto model = GlobalModel::sharedModel();
  auto& dao = *services->downloadDao();
  const auto& list = shownList();
  const auto& flags = shownFlags();
  const std::string year = list->year().value_or("");
  auto erase = [&](const CourseWare& lecture) {
    return dao.del(platform::Value(model->userId()), valueOf(_currReclass->reClassId()),
                   valueOf(lecture.cwId()), platform::Value(model->areaCode().value_or("")),
                   platform::Value(year));
  };
  if (_isDownLoaded) {
    for (std::size_t i = 0; i < flags.size(); ++i) {
      if (!flags[i]) continue;
      const auto& lecture = *(*list->cws())[i];
      if (erase(lecture)) deleFolder(keyFor(year, lecture));
    }
  } else {
    auto manager = services->downloadManager();
    for (std::size_t i = 0; i < flags.size(); ++i)
      if (flags[i] && manager) manager->removeDownloadTask(keyFor(year, *(*list->cws())[i]));
    for (std::size_t i = 0; i < flags.size(); ++i) {
      if (!flags[i]) continue;
      const auto& lecture = *(*list->cws())[i];
      const std::string key = keyFor(year, lecture);
      const bool erased = erase(lecture);
      if (manager && manager->currentCwId() == key) {
        // The manager lives on the main thread: its transfer stops there, and only then does
        // the folder it writes into go, so nothing writes into a deleted folder.
        std::weak_ptr<DownListController> weak = self();
        platform::dispatch::Queue::main()->async([weak, manager, key, erased] {
          manager->pauseDownload(key);
          if (auto strong = weak.lock(); strong && erased) strong->deleFolder(key);
        });
        continue;
      }
      if (erased) deleFolder(key);
    }
  }
  model->setDownloadRefresh(true);
  getReclassView(_currReclass);
}

bool DownListController::isPlainFolderName(const std::string& key) {
  return !key.empty() && key != "." && key != ".." &&
         key.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

void DownListController::deleFolder(const std::string& key) {
  if (!isPlainFolderName(key)) return;
  const std::string path = platform::Paths::documents() + "/" +
                           std::to_string(GlobalModel::sharedModel()->userId()) + "/" + key;
  std::printf("documentDirectoryStr = %s\n", path.c_str());
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

void DownListController::playVideo(model::Number year, model::Number reclassId,
                                   const std::shared_ptr<CourseWare>& cw) {
  auto player = PlayVideoViewController::create(std::string("PlayVideoViewController"));
  player->setYear(year);
  player->setCw(cw);
  player->setReclassId(reclassId);
  platform::Dictionary row = _studyLogDao->getByReClassId(
      platform::Value(screenlook::numberText(_finishReclass->reClassId())),
      platform::Value(GlobalModel::sharedModel()->userId()),
      platform::Value(screenlook::numberText(cw->cwId())), valueOf(year));
  const platform::Value* unsent = platform::find(row, "listenedpos");
  player->setLocalLisMins(unsent ? static_cast<float>(unsent->doubleValue()) : 0.0f);
  if (auto nav = navigationController()) nav->presentViewController(player, true);
}

void DownListController::alertViewClickedButtonAtIndex(platform::AlertView& alert,
                                                       int buttonIndex) {
  if (buttonIndex != 1) return;
  switch (alert.tag()) {
    case kTagDelete:
      deleteMarked();
      break;
    case kTagCompleteQuestion:
      if (_finishReclass && _finishReclass->cws() &&
          _clickCWIndex < static_cast<int>(_finishReclass->cws()->size()))
        playVideo(_currentCourse ? _currentCourse->year() : model::Number(),
                  _currReclass->reClassId(), (*_finishReclass->cws())[_clickCWIndex]);
      break;
    case kTagRetry: {
      auto services = ApplicationServices::shared();
      if (!services || !services->downloadManager() || !_downloadingReclass ||
          _selectedDownLoading >= static_cast<int>(_downloadingReclass->cws()->size()))
        break;
      const auto& lecture = (*_downloadingReclass->cws())[_selectedDownLoading];
      services->downloadManager()->addDownlodTask(
          lecture, keyFor(_downloadingReclass->year().value_or(""), *lecture));
      if (auto cell = rowOnScreen(_selectedDownLoading)) {
        cell->setDonwloadState(0);
        refreshDownloadingState(*cell, *lecture);
      }
      break;
    }
    default:
      break;
  }
}
