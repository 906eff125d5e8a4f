#include "screens/courses/CourseDetailViewController.h"

#include <cmath>
#include <cstdio>

#include "alerts/NoticeHUDView.h"
#include "download/DownloadUtil.h"
#include "model/Course.h"
#include "model/DownloadInfo.h"
#include "model/GlobalModel.h"
#include "model/ListenHistory.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/Screen.h"
#include "screens/common/ApplicationServices.h"
#include "screens/common/CourseWareCell.h"
#include "screens/common/LectureRules.h"
#include "screens/common/ScreenLook.h"
#include "screens/player/PlayVideoViewController.h"
#include "studytime/StudyTimeBacklog.h"
#include "widgets/ViewToast.h"

namespace {

constexpr platform::Color kAccent{0.941, 0.557, 0.231, 1};
constexpr const char* kPlayCellId = "CellIntifier";
constexpr const char* kDownloadCellId = "CellIntifier2";

std::string twoDigits(int value) {
  return value < 10 ? "0" + std::to_string(value) : std::to_string(value);
}

platform::Value valueOf(const model::Number& number) {
  return number ? platform::Value(*number) : platform::Value();
}

double applicationFrameHeight() {
  return platform::Screen::mainScreen().applicationFrame().size.height;
}

std::shared_ptr<platform::Label> smallLabel(const platform::Rect& frame, const std::string& text,
                                            platform::Color color) {
  auto label = platform::Label::create(frame);
  label->setFont(platform::Font::systemFont(11));
  label->setTextColor(color);
  label->setBackgroundColor(platform::Color::clearColor());
  label->setText(text);
  return label;
}

}  // namespace

CourseDetailViewController::CourseDetailViewController() { setTitle(std::string("课程详情")); }

std::shared_ptr<CourseDetailViewController> CourseDetailViewController::self() {
  return std::static_pointer_cast<CourseDetailViewController>(shared_from_this());
}

void CourseDetailViewController::viewDidLoad() {
  platform::assertMainThread("CourseDetailViewController::viewDidLoad");
  ViewController::viewDidLoad();
  _modelDao = std::make_shared<ModelDao>();
  _studyLogDao = std::make_shared<StudyLogDao>();
  view()->setBackgroundColor(platform::Color::whiteColor());
  navigationItem().setLeftBarButtonItem(
      screenlook::backButtonItem(screenlook::weakAction(*this, &CourseDetailViewController::back)));
  auto title = screenlook::titleLabel({0, 0, 150, 44}, "课程详情");
  navigationItem().setTitleView(title);
  buildHeader();
  buildSegmentBar();
  buildPages();
  _btnRefresh = screenlook::retryButton(
      {79, screenlook::isTallScreen() ? 204.0 : 160.0, 162, 36},
      screenlook::weakAction(*this, &CourseDetailViewController::refreshBtnClick));
  view()->addSubview(_btnRefresh);
  loadData();
}

void CourseDetailViewController::buildHeader() {
  _reclssView = platform::View::create(platform::Rect{5, 5, 315, 178});
  _labelTitle = platform::Label::create(platform::Rect{0, 10, 290, 30});
  _labelTitle->setFont(platform::Font::systemFont(20));
  _labelTitle->setTextColor(platform::Color::blackColor());
  _reclssView->addSubview(_labelTitle);
  _ivReclass = platform::ImageView::create(platform::Rect{5, 45, 72, 93});
  _ivReclass->setImage(platform::Image::named("conver_default@2x"));
  _reclssView->addSubview(_ivReclass);
  const platform::Color grey = platform::Color::white(0.45);
  const std::pair<platform::Point, const char*> captions[] = {{{82, 45}, "课程："},
                                                              {{82, 60}, "讲师："},
                                                              {{82, 75}, "类别："},
                                                              {{188, 45}, "总课时："},
                                                              {{188, 60}, "年    度："}};
  for (const auto& [at, text] : captions)
    _reclssView->addSubview(smallLabel({at.x, at.y, 60, 15}, text, grey));
  const std::pair<platform::Point, int> values[] = {
      {{118, 45}, 10}, {{118, 60}, 11}, {{118, 75}, 12}, {{236, 45}, 13}, {{236, 60}, 14}};
  for (const auto& [at, tag] : values) {
    auto label = smallLabel({at.x, at.y, 60, 15}, "", grey);
    label->setTag(tag);
    _reclssView->addSubview(label);
  }
  auto caption = smallLabel({82, 113, 50, 30}, "学习进度", platform::Color::blackColor());
  _reclssView->addSubview(caption);
  _reclssView->addSubview(
      screenlook::filledView({130, 125, kProgressWidth, 8}, platform::Color::white(0.941)));
  _progressView = screenlook::filledView({130, 125, 0, 8}, platform::Color{0.49, 0.678, 0.302, 1});
  _reclssView->addSubview(_progressView);
  _labelPer = smallLabel({280, 113, 30, 30}, "", platform::Color::blackColor());
  _reclssView->addSubview(_labelPer);
  view()->addSubview(_reclssView);
}

void CourseDetailViewController::buildSegmentBar() {
  _changeView = screenlook::filledView({0, 160, 320, 35}, platform::Color::white(0.965));
  auto me = self();
  auto segment = [&](double x, const char* title, int tag) {
    auto button = platform::Button::buttonWithType(platform::ButtonType::Custom);
    button->setFrame({x, 0, 75, 35});
    button->setTitle(std::string(title));
    button->titleLabel()->setFont(platform::Font::systemFont(16));
    button->setTitleColor(platform::Color::blackColor());
    button->setTag(tag);
    button->addTarget(me, &CourseDetailViewController::tapPlayButton,
                      platform::ControlEvent::TouchUpInside);
    _changeView->addSubview(button);
    return button;
  };
  _btnPlay = segment(0, "播放", kTagPlayButton);
  _btnPlay->setTitleColor(kAccent);
  _changeView->addSubview(screenlook::filledView({76, 5, 1, 25}, platform::Color::white(0.891)));
  _btnDownload = segment(77, "下载", kTagDownloadButton);
  _selectedSegmentLayer = screenlook::filledView({0, 33, 75, 1}, kAccent);
  _changeView->addSubview(_selectedSegmentLayer);
  view()->addSubview(_changeView);
}

void CourseDetailViewController::buildPages() {
  const double height = applicationFrameHeight();
  _scrollView = platform::ScrollView::create(platform::Rect{15, 194, kPageWidth, height - 222});
  _scrollView->setPagingEnabled(true);
  _scrollView->setContentSize({2 * kPageWidth, height - 222});
  _scrollView->setShowsHorizontalScrollIndicator(false);
  _scrollView->setDelegate(std::static_pointer_cast<platform::ScrollViewDelegate>(self()));
  _recordBtn = platform::Button::buttonWithType(platform::ButtonType::Custom);
  _recordBtn->setFrame({0, 0, 310, 35});
  _recordBtn->setTitleColor(platform::Color::white(0.45));
  _recordBtn->titleLabel()->setFont(platform::Font::systemFont(13));
  _recordBtn->addTarget(self(), &CourseDetailViewController::GoPointTime,
                        platform::ControlEvent::TouchUpInside);
  _scrollView->addSubview(_recordBtn);
  _scrollView->addSubview(
      screenlook::filledView({0, 36, kPageWidth, 1}, platform::Color::white(0.86)));
  _cwTable = screenlook::listTable({0, 37, kPageWidth, height - 275}, *this);
  _scrollView->addSubview(_cwTable);
  _selectTable = screenlook::listTable({kPageWidth, 5, kPageWidth, height - 255}, *this);
  _scrollView->addSubview(_selectTable);
  view()->addSubview(_scrollView);
}

void CourseDetailViewController::loadData() {
  auto model = GlobalModel::sharedModel();
  if (model->GlobalNetWorkStatus().value_or("") == "NotReachable") {
    NoticeHUDView::hudWithBody(std::string("请检查网络"), 3, 2.0, true);
    _reclssView->setHidden(true);
    _cwTable->setHidden(true);
    _changeView->setHidden(true);
    _scrollView->setHidden(true);
    _btnRefresh->setHidden(false);
    return;
  }
  _changeView->setHidden(false);
  _scrollView->setHidden(false);
  _reclssView->setHidden(false);
  _cwTable->setHidden(false);
  refreshReclassView(_currReclass);
}

void CourseDetailViewController::refreshBtnClick() {
  _btnRefresh->setHidden(true);
  loadData();
}

std::shared_ptr<ReClass> CourseDetailViewController::courseFromModel() const {
  const auto& courses = GlobalModel::sharedModel()->courses();
  if (!courses || !_currReclass) return nullptr;
  for (const auto& course : *courses) {
    if (!course->reClasses()) continue;
    for (const auto& reclass : *course->reClasses()) {
      if (reclass->reClassId() == _currReclass->reClassId() &&
          reclass->year() == _currReclass->year())
        return reclass;
    }
  }
  return nullptr;
}

void CourseDetailViewController::viewDidAppear(bool animated) {
  ViewController::viewDidAppear(animated);
  // A sync replaces the course tree: the course shown must carry the refreshed minutes, or a
  // lecture would open with its uploaded stretch uncredited.
  if (auto refreshed = courseFromModel()) _currReclass = refreshed;
  auto services = ApplicationServices::shared();
  if (GlobalModel::sharedModel()->isRefresh() || (services && services->refreshViewFlag())) {
    loadData();
  } else {
    refreshReclassView(_currReclass);
  }
}

void CourseDetailViewController::refreshReclassView(const std::shared_ptr<ReClass>& c) {
  if (!c) return;
  _labelTitle->setText(c->reClassName().value_or(""));
  auto setValue = [&](int tag, const std::string& text) {
    if (auto label = std::dynamic_pointer_cast<platform::Label>(_reclssView->viewWithTag(tag)))
      label->setText(text);
  };
  setValue(10, "共" + screenlook::numberText(c->cwNum()) + "讲");
  setValue(11, c->teacherName().value_or("(null)"));
  setValue(12, c->typeName().value_or("(null)"));
  setValue(13, screenlook::numberText(c->totalMins()) + "分钟");
  setValue(14, c->year().value_or("(null)"));

  const auto total = c->totalMins().value_or(0);
  auto listened = c->listenedMins().value_or(0);
  if (total < listened) listened = total;
  setProgressValue(static_cast<float>(listened) / static_cast<float>(total));

  auto model = GlobalModel::sharedModel();
  auto history =
      _modelDao->getLatelyListenHistory(platform::Value(model->userId()), valueOf(c->reClassId()));
  if (history && history->userId()) {
    const auto stored = history->listenedMilliseconds().value_or(0);
    int n = c->cws() ? static_cast<int>(c->cws()->size()) : 0;
    if (c->cws()) {
      for (std::size_t i = 0; i < c->cws()->size(); ++i) {
        const auto& lecture = (*c->cws())[i];
        if (lecture->cwId() && lecture->cwId() == history->cwid()) {
          resumeLecture_ = lecture;
          // Ten seconds before where the learner stopped, so the resumed play picks up the
          // thread; never before the start.
          resumePosition_ = std::max(0.0, static_cast<double>(stored) - 10.0);
          n = static_cast<int>(i) + 1;
          break;
        }
      }
    }
    _recordBtn->setTitle("上次学习到第" + std::to_string(n) + "讲" +
                         toVideoTime(static_cast<int>(stored)));
  } else {
    resumeLecture_.reset();
    resumePosition_.reset();
    _recordBtn->setTitle(std::string("没有听课"));
  }
  _currReclass = c;
  _cwTable->reloadData();
}

void CourseDetailViewController::setProgressValue(float ratio) {
  if (std::isnan(ratio)) ratio = 0;
  platform::Rect frame = _progressView->frame();
  frame.size.width = 0;
  _progressView->setFrame(frame);
  auto bar = _progressView;
  platform::View::animate(1.0, [bar, frame, ratio] {
    platform::Rect filled = frame;
    filled.size.width = ratio * kProgressWidth;
    bar->setFrame(filled);
  });
  char text[16];
  std::snprintf(text, sizeof text, "%3.0f%%", ratio * 100);
  _labelPer->setText(std::string(text));
}

std::string CourseDetailViewController::toVideoTime(int t) {
  return twoDigits((t % 216000) / 3600) + ":" + twoDigits((t % 3600) / 60) + ":" +
         twoDigits(10 * ((t % 60) / 10));
}

void CourseDetailViewController::back() { screenlook::popScreen(*this); }

void CourseDetailViewController::moveUnderline(const std::shared_ptr<platform::Button>& under) {
  auto layer = _selectedSegmentLayer;
  const platform::Rect target{under->frame().origin.x, under->frame().maxY() - 2, 75, 1};
  platform::View::animate(0.3, [layer, target] { layer->setFrame(target); });
}

void CourseDetailViewController::tapPlayButton(platform::Control& sender) {
  auto tapped = sender.tag() == kTagPlayButton ? _btnPlay : _btnDownload;
  moveUnderline(tapped);
  _scrollView->setContentOffset({sender.tag() == kTagPlayButton ? 0.0 : kPageWidth, 0}, true);
}

void CourseDetailViewController::selectSegment(int tag) {
  auto selected = tag == kTagPlayButton ? _btnPlay : _btnDownload;
  auto other = tag == kTagPlayButton ? _btnDownload : _btnPlay;
  selected->setTitleColor(kAccent);
  other->setTitleColor(platform::Color::blackColor());
  moveUnderline(selected);
}

void CourseDetailViewController::scrollViewDidScroll(platform::ScrollView& scrollView) {
  if (&scrollView != _scrollView.get()) return;
  const double x = scrollView.contentOffset().x;
  if (x == 0) selectSegment(kTagPlayButton);
  if (x == kPageWidth) selectSegment(kTagDownloadButton);
}

void CourseDetailViewController::scrollViewDidEndScrollingAnimation(
    platform::ScrollView& scrollView) {
  if (&scrollView != _scrollView.get() || scrollView.contentOffset().y != 0) return;
  scrollViewDidScroll(scrollView);
}

int CourseDetailViewController::numberOfRowsInSection(platform::TableView&, int) {
  return _currReclass && _currReclass->cws() ? static_cast<int>(_currReclass->cws()->size()) : 0;
}

std::shared_ptr<platform::TableViewCell> CourseDetailViewController::cellForRowAtIndexPath(
    platform::TableView& table, const platform::IndexPath& path) {
  const bool downloads = &table == _selectTable.get();
  const char* identifier = downloads ? kDownloadCellId : kPlayCellId;
  auto cell = std::dynamic_pointer_cast<CourseWareCell>(
      table.dequeueReusableCellWithIdentifier(identifier));
  if (!cell) cell = CourseWareCell::create(platform::TableViewCellStyle::Default, identifier);
  const auto& lecture = *(*_currReclass->cws())[path.row];
  cell->reclassNameLabel()->setText(lecture.name().value_or(""));
  cell->setSelectedBackgroundView(
      screenlook::filledView({0, 0, kPageWidth, kRowHeight}, platform::Color::white(0.878)));
  if (!downloads) {
    cell->setState(static_cast<float>(lecture.listenedMins().value_or(0)) >=
                           static_cast<float>(lecture.totalMins().value_or(0))
                       ? 1
                       : 0);
    return cell;
  }
  auto services = ApplicationServices::shared();
  auto model = GlobalModel::sharedModel();
  const bool ordered =
      services && services->downloadDao() &&
      services->downloadDao()->exists(platform::Value(model->userId()), valueOf(lecture.cwId()),
                                      platform::Value(_currReclass->year().value_or("")),
                                      platform::Value(model->areaCode().value_or("")));
  cell->setUserInteractionEnabled(!ordered);
  cell->setState(ordered ? 1 : 0);
  return cell;
}

void CourseDetailViewController::didSelectRowAtIndexPath(platform::TableView& table,
                                                         const platform::IndexPath& path) {
  if (!_currReclass || !_currReclass->cws() ||
      path.row >= static_cast<int>(_currReclass->cws()->size()))
    return;
  _selectRow = path.row;
  const auto& lecture = (*_currReclass->cws())[path.row];
  if (&table == _cwTable.get()) {
    gotoPlay(lecture);
    return;
  }
  if (lecturerules::isNotForMobile(*lecture)) {
    screenlook::showAlert(std::string("提示"), std::string(lecturerules::kNoMobileVideoMessage),
                          "确定");
    return;
  }
  addDownLoad(path.row);
}

void CourseDetailViewController::gotoPlay(const std::shared_ptr<CourseWare>& lecture) {
  openLecture(lecture, std::nullopt);
}

void CourseDetailViewController::GoPointTime() {
  // Without a listen history of this course there is nothing to resume.
  if (!resumeLecture_) return;
  openLecture(resumeLecture_, resumePosition_);
}

void CourseDetailViewController::openLecture(const std::shared_ptr<CourseWare>& lecture,
                                             std::optional<double> resume) {
  if (!lecture) return;
  if (lecturerules::isNotForMobile(*lecture)) {
    screenlook::showAlert(std::string("提示"), std::string(lecturerules::kNoMobileVideoMessage),
                          "确定");
    return;
  }
  _currRecordCW = lecture;
  if (static_cast<float>(lecture->listenedMins().value_or(0)) >=
      static_cast<float>(lecture->totalMins().value_or(0))) {
    pendingResume_ = resume;
    screenlook::showAlert(std::string("提示"), std::string(lecturerules::kCompleteQuestion), "取消",
                          {"确定"}, std::static_pointer_cast<platform::AlertViewDelegate>(self()),
                          kTagCompleteQuestion);
    return;
  }
  startPlayer(lecture, resume);
}

int CourseDetailViewController::indexOf(const CourseWare& lecture) const {
  if (!_currReclass || !_currReclass->cws()) return 0;
  const auto& list = *_currReclass->cws();
  for (std::size_t i = 0; i < list.size(); ++i)
    if (list[i].get() == &lecture) return static_cast<int>(i);
  return 0;
}

void CourseDetailViewController::startPlayer(const std::shared_ptr<CourseWare>& lecture,
                                             std::optional<double> resume) {
  const auto year = platform::leadingInteger(_currReclass->year().value_or(""));
  pendingResume_ = resume;
  playVideo(year, _currReclass->reClassId(), lecture, _currReclass->cws(), indexOf(*lecture));
}

void CourseDetailViewController::playVideo(model::Number year, model::Number reclassId,
                                           const std::shared_ptr<CourseWare>& lecture,
                                           const model::OptionalList<CourseWare>& list, int index) {
  auto player = PlayVideoViewController::create(std::string("PlayVideoViewController"));
  player->setCw(lecture);
  player->setReclassId(reclassId);
  player->setYear(year);
  player->setCws(list);
  player->setCwIndex(index);
  player->setEnterIndex(PlayVideoViewController::kEnterFromCourseDetail);
  player->setResumePosition(pendingResume_);
  pendingResume_.reset();
  platform::Dictionary row = _studyLogDao->getByReClassId(
      platform::Value(screenlook::numberText(_currReclass->reClassId())),
      platform::Value(GlobalModel::sharedModel()->userId()),
      platform::Value(screenlook::numberText(lecture->cwId())), valueOf(year));
  const platform::Value* unsent = platform::find(row, "listenedpos");
  player->setLocalLisMins(unsent ? static_cast<float>(unsent->doubleValue()) : 0.0f);
  if (auto nav = navigationController()) nav->presentViewController(player, true);
}

void CourseDetailViewController::addDownLoad(int row) {
  const auto& lecture = (*_currReclass->cws())[row];
  auto model = GlobalModel::sharedModel();
  auto services = ApplicationServices::shared();
  DownloadInfo info;
  info.setUserId(model->userId());
  info.setCwid(lecture->cwId());
  info.setReclassId(_currReclass->reClassId());
  info.setYear(platform::leadingInteger(_currReclass->year().value_or("")));
  info.setState(DownloadDao::kStateQueued);
  info.setAreacode(model->areaCode());
  if (services && services->downloadDao() && services->downloadDao()->insert(info)) {
    const std::string key = DownloadUtil::getAbsoluteString(
        model->areaCode().value_or(""), screenlook::numberText(info.year()),
        screenlook::numberText(lecture->cwId()));
    if (services->downloadManager()) services->downloadManager()->addDownlodTask(lecture, key);
    model->setDownloadRefresh(true);
    ViewToast::makeToast(*view(), std::string("开始下载选中课程，请到本地课程查看下载详情"), 1.5,
                         ToastPosition(std::string("center")), std::shared_ptr<platform::Image>());
  } else if (services && services->downloadDao()) {
    // Unrecorded, the lecture would never show in the download list nor count as downloaded:
    // nothing is queued, and the learner is told why (the device is full).
    StudyTimeBacklog::tellNoRoom();
  }
  _selectTable->reloadData();
}

void CourseDetailViewController::alertViewClickedButtonAtIndex(platform::AlertView& alert,
                                                               int buttonIndex) {
  if (alert.tag() == kTagCompleteQuestion && buttonIndex == 1 && _currRecordCW)
    startPlayer(_currRecordCW, pendingResume_);
}
