#include "screens/start/LaunchController.h"

#include <cmath>
#include <string>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationController.h"
#include "screens/common/DefaultsKeys.h"
#include "screens/common/ScreenLook.h"
#include "screens/login/AreaViewController.h"

namespace {

constexpr double kPageWidth = 320;
constexpr platform::Color kTitleColor = platform::Color::rgb255(177, 94, 31);
constexpr platform::Color kLineColor = platform::Color::rgb255(105, 104, 103);

struct PageText {
  const char* title;
  const char* firstLine;
  const char* secondLine;  // null on the first page
};

constexpr PageText kPages[] = {
    {"选择地区", "选择您参加继续教育的地区", nullptr},
    {"登录", "根据地区账号，", "选择在线登录/离线登录方式"},
    {"我的课程", "联网情况下，", "可在线学习课程，累计学习时长"},
    {"本地课程", "将课程下载到本地，", "随时随地听课学习，也可累计学习时长"},
    {"高清课件", "高清移动课程，清晰真实，讲义详尽，", "音/视频切换，拥有完美学习体验"},
    {"学习记录", "同步累计 “我的课程” 和 “本地课程” ", "学习记录，连网同步学习记录到系统中"},
};

void addLine(platform::View& page, const platform::Rect& frame, const char* text, double fontSize,
             platform::Color color) {
  auto label = platform::Label::create(frame);
  label->setText(text);
  label->setBackgroundColor(platform::Color::clearColor());
  label->setTextColor(color);
  label->setFont(platform::Font::boldSystemFont(fontSize));
  page.addSubview(label);
}

}  // namespace

void LaunchController::viewDidLoad() {
  ViewController::viewDidLoad();
  double height = screenlook::isTallScreen() ? 568 : 480;
  _launchScroll = platform::ScrollView::create(platform::Rect{0, 0, kPageWidth, height});
  _launchScroll->setBounces(false);
  _launchScroll->setContentSize({kPageWidth * kPageCount, height});
  _launchScroll->setPagingEnabled(true);
  _launchScroll->setDelegate(std::dynamic_pointer_cast<ScrollViewDelegate>(shared_from_this()));
  _launchScroll->setShowsHorizontalScrollIndicator(false);
  _launchScroll->setShowsVerticalScrollIndicator(false);
  view()->addSubview(_launchScroll);

  for (int page = 1; page < kPageCount; ++page) addPage(page, height);

  auto last = platform::ImageView::create(
      platform::Rect{kPageWidth * (kPageCount - 1), 0, kPageWidth, height});
  last->setImage(platform::Image::named("help7.png"));
  last->setUserInteractionEnabled(true);
  _launchScroll->addSubview(last);
  beginButton_ = platform::Button::buttonWithType(platform::ButtonType::Custom);
  beginButton_->setFrame({112, 230, 100, 30});
  beginButton_->setBackgroundImage(platform::Image::named("begin.png"));
  beginButton_->addTarget(std::static_pointer_cast<LaunchController>(shared_from_this()),
                          &LaunchController::beginBtnClick, platform::ControlEvent::TouchUpInside);
  last->addSubview(beginButton_);

  double viewHeight = view()->frame().height();
  _launchPage = platform::PageControl::create(platform::Rect{130, viewHeight - 35, 60, 20});
  _launchPage->setBackgroundColor(platform::Color::clearColor());
  _launchPage->setNumberOfPages(kPageCount);
  _launchPage->setCurrentPage(0);
  _launchPage->addTarget(std::static_pointer_cast<LaunchController>(shared_from_this()),
                         &LaunchController::pageChage, platform::ControlEvent::ValueChanged);
  view()->addSubview(_launchPage);
}

void LaunchController::addPage(int page, double height) {
  const PageText& text = kPages[page - 1];
  auto pageView =
      platform::ImageView::create(platform::Rect{kPageWidth * (page - 1), 0, kPageWidth, height});
  pageView->setImage(platform::Image::named("help.png"));
  _launchScroll->addSubview(pageView);
  addLine(*pageView, {30, 25, 290, 40}, text.title, 30, kTitleColor);
  addLine(*pageView, {30, 65, 290, 25}, text.firstLine, 15, kLineColor);
  auto picture = platform::Image::named("help" + std::to_string(page) + ".png");
  auto pictureView = platform::ImageView::create(pictureFrame(page, picture->size()));
  pictureView->setImage(picture);
  pageView->addSubview(pictureView);
  if (text.secondLine) addLine(*pageView, {30, 90, 290, 25}, text.secondLine, 15, kLineColor);
}

platform::Rect LaunchController::pictureFrame(int page, platform::Size size) {
  bool narrowed = page == 3 || page == 4 || page == 5;
  double width = narrowed ? (size.width - 30) / 2 : size.width / 2;
  double height = narrowed ? size.height / 2 : (size.height - 30) / 2;
  double top = page == 1 ? 100 : 115;
  return {(kPageWidth - width) / 2, top, width, height};
}

void LaunchController::pageChage() {
  _launchScroll->setContentOffset({_launchPage->currentPage() * _launchScroll->frame().width(), 0},
                                  true);
}

void LaunchController::scrollViewDidEndDecelerating(platform::ScrollView& scrollView) {
  _launchPage->setCurrentPage(
      static_cast<int>(std::trunc(scrollView.contentOffset().x / scrollView.frame().width())));
}

void LaunchController::beginBtnClick() {
  auto& defaults = platform::UserDefaults::standard();
  defaults.set(defaultskeys::fistLaunched(platform::Bundle::main().version()), false);
  defaults.synchronize();
  auto area = AreaViewController::create(std::string("AreaViewController"));
  auto nav = platform::NavigationController::create(area);
  presentViewController(nav, false);
}
