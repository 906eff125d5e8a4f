#include "screens/settings/AnswerViewController.h"

#include "platform/ui/Screen.h"
#include "screens/common/ScreenLook.h"
#include "screens/settings/AnswerCell.h"
#include "util/ViewUtil.h"

namespace {

constexpr double kFontSize = 13;
constexpr double kMeasureWidth = 300;
constexpr double kLineHeight = 16;

constexpr std::pair<const char*, const char*> kQuestions[] = {
    {"如果地区选择错误，可以登录吗？", "不可以，您的账号只可以在您所参加继续教育的地区登录。"},
    {"听课学时是如何记录的呢？重复听同一讲课，学习时间会累加吗？",
     "同一讲课程只会记录一次有效学习时间。您听过的课程无论学习几次，也只会记录一次最长的学习时间。"
     "每节课您只需完整的学习一次即可将本节课的有效时间学满。"},
    {"课程学习时间是如何累计的？",
     "同一账号可以在PC电脑端和移动设备上同时登录，学习总课时等于所有设备学习时长总和，直至本讲课程"
     "学"
     "完为止。例如：某一讲总课时为60分钟。同一账号在PC电脑上学习10分钟，在移动设备学习15分钟，同步"
     "学"
     "习记录后，则目前总课时为25分钟。"},
    {"如何知道我的课程已经学完？",
     "您每一讲课程学完后，课程名称和前面图标的颜色会变灰。每一科目学完后，在科目信息下方的进度条会"
     "读"
     "满，并显示100%。"},
    {"是否在移动设备上学习完毕就可以完成继续教育课程了呢？",
     "根据每个地区的不同，完成继续教育的要求不同，请您详细阅读您所在地区的学习要求，查看您的地区是"
     "否"
     "需要参加考试才能完成继续教育的学习。"},
    {"学习记录是如何同步的呢？",
     "学习记录需要您在连接网络的情况下，系统会实时向服务器上传您的学习情况。"},
};

}  // namespace

void AnswerViewController::viewDidLoad() {
  ViewController::viewDidLoad();
  view()->setBackgroundColor(platform::Color::whiteColor());
  initNavBar();
  platform::Rect frame = platform::Screen::mainScreen().applicationFrame();
  _ansTable = platform::TableView::create(platform::Rect{0, 0, frame.width(), frame.height() - 44},
                                          platform::TableViewStyle::Plain);
  _ansTable->setSeparatorStyle(platform::TableViewCellSeparatorStyle::None);
  _ansTable->setDataSource(std::dynamic_pointer_cast<TableViewDataSource>(shared_from_this()));
  _ansTable->setDelegate(std::dynamic_pointer_cast<TableViewDelegate>(shared_from_this()));
  view()->addSubview(_ansTable);
  for (const auto& [question, answer] : kQuestions) {
    items.push_back(question);
    item[question] = answer;
  }
}

void AnswerViewController::initNavBar() {
  navigationItem().setTitleView(screenlook::titleLabel({550, 0, 100, 44}, "常见问题"));
  navigationItem().setLeftBarButtonItem(
      screenlook::backButtonItem(screenlook::weakAction(*this, &AnswerViewController::back)));
}

void AnswerViewController::back() { screenlook::popScreen(*this); }

int AnswerViewController::numberOfRowsInSection(platform::TableView&, int) {
  return static_cast<int>(item.size());
}

double AnswerViewController::heightForString(const std::optional<std::string>& text,
                                             double fontSize, double width) {
  return ViewUtil::heightForString(text, static_cast<float>(fontSize), static_cast<float>(width));
}

std::optional<double> AnswerViewController::heightForRowAtIndexPath(
    platform::TableView&, const platform::IndexPath& path) {
  const std::string& question = items[path.row];
  double answerHeight = heightForString(item[question], kFontSize, kMeasureWidth);
  double questionLines = heightForString(question, kFontSize, kMeasureWidth) / kLineHeight;
  if (questionLines >= 2) answerHeight += (questionLines - 1) * kLineHeight;
  // The third answer runs long enough that its row needs a little more room.
  if (path.row == 2) answerHeight += 15;
  return answerHeight + 20 + 10;
}

std::shared_ptr<platform::TableViewCell> AnswerViewController::cellForRowAtIndexPath(
    platform::TableView& table, const platform::IndexPath& path) {
  auto cell = std::dynamic_pointer_cast<AnswerCell>(
      table.dequeueReusableCellWithIdentifier(kCellIdentifier));
  if (!cell) cell = AnswerCell::create(platform::TableViewCellStyle::Default, kCellIdentifier);
  const std::string& question = items[path.row];
  const std::string& answer = item[question];
  auto questionLabel = cell->questionLabel();
  auto answerLabel = cell->answerLabel();
  questionLabel->setText(question);
  answerLabel->setText(answer);

  platform::Rect q = questionLabel->frame();
  platform::Rect a = answerLabel->frame();
  double questionHeight = heightForString(question, kFontSize, q.width());
  double answerHeight = heightForString(answer, kFontSize, a.width());
  platform::Rect head = cell->headIV()->frame();
  cell->headIV()->setFrame({head.x(), q.y() + 2, head.width(), head.height()});
  questionLabel->setFrame({q.x(), q.y(), q.width(), questionHeight});
  answerLabel->setFrame({a.x(), q.y() + questionHeight, a.width(), answerHeight});
  platform::Rect icon = cell->answerIV()->frame();
  cell->answerIV()->setFrame({icon.x(), q.y() + questionHeight + 2, icon.width(), icon.height()});
  cell->setSelectionStyle(platform::TableViewCellSelectionStyle::None);
  return cell;
}
