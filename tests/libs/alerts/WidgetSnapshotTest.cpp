// The widgets as a person sees them: a snapshot of the main tab screen with its tab bar, a toast,
// the "!" network notice and a progress HUD with a ring, each drawn in its own frame.

#include <cairo.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "alerts/NoticeHUDView.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/UITestDriver.h"
#include "platform/ui/Window.h"
#include "support/Surfaces.h"
#include "support/TempHome.h"
#include "widgets/MirelTabBarController.h"
#include "widgets/ProgressHUD.h"
#include "widgets/ViewToast.h"

using platform::Rect;
using platform::UITestDriver;
using platform::View;

namespace {

constexpr std::uint32_t kWhite = 0xFFFFFF;

int inkIn(cairo_surface_t* surface, const Rect& r) {
  return testsupport::pixelsNotOf(surface, r.x(), r.y(), r.width(), r.height(), kWhite);
}

double area(const Rect& r) { return r.width() * r.height() * 4; }  // pixels at scale 2

TEST(WidgetSnapshotTest, TabBarToastNoticeAndHUDRingAreDrawnInTheirFrames) {
  platform::ScopedManualClock clock;
  UITestDriver::reset();
  NoticeAlertView::discardAll();
  std::vector<std::shared_ptr<platform::ViewController>> tabs;
  std::vector<platform::Dictionary> images;
  for (const char* icon : {"icon_mycourse", "icon_localcourse", "btn_studylog_s", "icon_setting"}) {
    auto tab = platform::ViewController::create();
    tab->view()->setBackgroundColor(platform::Color::whiteColor());
    tabs.push_back(tab);
    images.push_back({{"Default", icon}, {"Highlighted", icon}, {"Seleted", icon}});
  }
  auto main =
      MirelTabBarController::create(tabs, images, {"我的课程", "本地课程", "学习记录", "设置"}, 0);
  main->tabBar()->setBackgroundImage(platform::Image::named("c-2-1.png"));
  auto login = platform::ViewController::create();
  login->view()->setBackgroundColor(platform::Color::whiteColor());
  auto nav = platform::NavigationController::create(login);
  auto window = platform::Window::create();
  window->setRootViewController(nav);
  window->makeKeyAndVisible();
  nav->pushViewController(main, false);
  auto page = tabs[0]->view();

  ViewToast::makeToast(*page, "开始下载选中课程，请到本地课程查看下载详情", 1.5, std::string("top"),
                       std::shared_ptr<platform::Image>());
  auto toast = page->subviews().back();
  auto notice = NoticeHUDView::hudWithBody("请检查网络", 3, 2.0, true);
  auto hud = ProgressHUD::reusableHUDForView(page);
  hud->setMode(ProgressHUD::kModeAnnularDeterminate);
  hud->setProgress(0.5);
  hud->setLabelText("请稍候");
  hud->setYOffset(110);  // below the notice, which sits in the middle
  hud->show(true);
  UITestDriver::settle(0.3);

  std::string folder = testsupport::makeTempFolder("widget-snapshot");
  std::string path = folder + "/main.png";
  std::string error;
  ASSERT_TRUE(window->snapshot(path, &error)) << error;
  cairo_surface_t* picture = cairo_image_surface_create_from_png(path.c_str());
  ASSERT_EQ(cairo_surface_status(picture), CAIRO_STATUS_SUCCESS);

  auto inWindow = [](const std::shared_ptr<View>& v) {
    return v->convertRectToView(v->bounds(), nullptr);
  };
  Rect bar = inWindow(main->tabBar());
  Rect toastFrame = inWindow(toast);
  Rect box = inWindow(notice->box());
  Rect ring = inWindow(hud->indicator());
  SCOPED_TRACE("bar " + platform::toString(bar) + " toast " + platform::toString(toastFrame) +
               " notice " + platform::toString(box) + " ring " + platform::toString(ring));
  for (const Rect* a : {&bar, &toastFrame, &box, &ring}) {
    for (const Rect* b : {&bar, &toastFrame, &box, &ring}) {
      if (a != b) {
        EXPECT_FALSE(a->intersects(*b)) << "each widget in a frame of its own";
      }
    }
  }
  EXPECT_GT(inkIn(picture, bar), area(bar) * 0.9) << "the orange bar with its icons";
  EXPECT_EQ(testsupport::pixelAt(picture, bar.x() + 40, bar.y() + 2), 0xD2760Du)
      << "the highlight behind the first tab";
  EXPECT_GT(inkIn(picture, toastFrame), area(toastFrame) * 0.6) << "the dark toast box";
  EXPECT_GT(inkIn(picture, box), area(box) * 0.8) << "the notice box";
  Rect glyph = inWindow(notice->iconLabel());
  EXPECT_GT(area(glyph) - inkIn(picture, glyph), 20) << "the white \"!\"";
  // The ring: its drawn half (progress 0.5) white on the right, the faint rest on the left.
  Rect track{ring.maxX() - 4, ring.midY() - 1, 3, 2};
  EXPECT_GT(area(track) - inkIn(picture, track), 4) << "white progress on the right";
  Rect rest{ring.x() + 1, ring.midY() - 1, 3, 2};
  EXPECT_EQ(area(rest) - inkIn(picture, rest), 0) << "no white on the left";
  EXPECT_GT(inkIn(picture, rest), 0) << "but the faint track is there";

  cairo_surface_destroy(picture);
  std::filesystem::remove_all(folder);
  NoticeAlertView::discardAll();
  UITestDriver::reset();
}

}  // namespace
