#include "screens/settings/AboutViewController.h"

#include "platform/ui/ImageView.h"
#include "screens/common/ScreenLook.h"

namespace {

// The maker's details are deployment texts; these name the placeholder maker of this build.
constexpr const char* kWebLine = "官方网站：www.chengheng.example";
constexpr const char* kPhoneLine = "客服电话：400-000-0000";
// Eighteen spaces line the second number up under the first.
constexpr const char* kSecondPhoneLine = "                  010-00000000";
constexpr const char* kVersionLine = " 版本  V1.0.0";
constexpr const char* kRightsLine = "澄衡会计在线 版权所有";
constexpr const char* kCopyrightLine = "Copyright © 澄衡会计在线";

void addLabel(platform::View& parent, const platform::Rect& frame, const std::string& text,
              const platform::Font& font, platform::Color color) {
  auto label = platform::Label::create(frame);
  label->setText(text);
  label->setFont(font);
  label->setTextColor(color);
  label->setBackgroundColor(platform::Color::clearColor());
  parent.addSubview(label);
}

}  // namespace

void AboutViewController::viewDidLoad() {
  ViewController::viewDidLoad();
  auto& root = *view();
  root.setBackgroundColor(platform::Color::whiteColor());
  initNavBar();

  auto logo = platform::ImageView::create(platform::Rect{98, 45, 120, 34});
  logo->setImage(platform::Image::named("logo"));
  root.addSubview(logo);
  addLabel(root, {40, 85, 1000, 48}, "澄衡会计在线",
           platform::Font::fontWithName("TrebuchetMS-Bold", 40),
           platform::Color::rgb255(244, 142, 59));
  root.addSubview(screenlook::filledView({25, 140, 270, 1}, platform::Color::white(0.877)));

  const auto body = platform::Font::systemFont(15);
  addLabel(root, {60, 150, 1000, 20}, kWebLine, body, platform::Color::blackColor());
  addLabel(root, {60, 172, 1000, 20}, kPhoneLine, body, platform::Color::blackColor());
  addLabel(root, {60, 192, 1000, 20}, kSecondPhoneLine, body, platform::Color::blackColor());

  const bool tall = screenlook::isTallScreen();
  const auto small = platform::Font::systemFont(12);
  const auto grey = platform::Color::white(0.509);
  addLabel(root, {120, tall ? 443.0 : 355.0, 1000, 15}, kVersionLine, small, grey);
  addLabel(root, {48, tall ? 461.0 : 373.0, 1000, 15}, kRightsLine, small, grey);
  addLabel(root, {57, tall ? 476.0 : 388.0, 1000, 15}, kCopyrightLine, small, grey);
}

void AboutViewController::initNavBar() {
  navigationItem().setTitleView(screenlook::titleLabel({550, 0, 50, 44}, "关于"));
  navigationItem().setLeftBarButtonItem(
      screenlook::backButtonItem(screenlook::weakAction(*this, &AboutViewController::back)));
}

void AboutViewController::back() { screenlook::popScreen(*this); }
