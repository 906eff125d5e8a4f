#include "ScreenTestSupport.h"

#include <cairo.h>

#include <algorithm>
#include <cstdlib>

#include "alerts/NoticeAlertView.h"
#include "analytics/Analytics.h"
#include "model/GlobalModel.h"
#include "netstatus/ReachabilityNetworkStatus.h"
#include "platform/foundation/Paths.h"
#include "platform/ui/UITestDriver.h"
#include "screens/common/ScreenHUD.h"
#include "support/Files.h"
#include "widgets/MirelTabBarController.h"
#include "widgets/ProgressHUD.h"

namespace screentest {

namespace {

std::shared_ptr<platform::FakeReachabilitySource>& fake() {
  static std::shared_ptr<platform::FakeReachabilitySource> source;
  return source;
}

class ReachabilityEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    fake() = std::make_shared<platform::FakeReachabilitySource>(wifiFlags());
    platform::ReachabilitySource::setShared(fake());
  }
};

[[maybe_unused]] auto* const environment =
    ::testing::AddGlobalTestEnvironment(new ReachabilityEnvironment);

}  // namespace

platform::FakeReachabilitySource& reachability() { return *fake(); }

std::uint32_t wifiFlags() { return platform::kReachabilityFlagsReachable; }
std::uint32_t mobileFlags() {
  return platform::kReachabilityFlagsReachable | platform::kReachabilityFlagsIsWWAN;
}
std::uint32_t offlineFlags() { return 0; }

void resetGlobalModel() {
  auto model = GlobalModel::sharedModel();
  model->setUserId(0);
  model->setAreaCode(std::nullopt);
  model->setAreaName(std::nullopt);
  model->setLoginState(GlobalModel::kLoginOnline);
  model->setCourses(std::nullopt);
  model->setCurrentYearIndex(0);
  model->setDownYearIndex(0);
  model->setIsRefresh(false);
  model->setDownloadRefresh(false);
  model->setGlobalNetWorkStatus(std::nullopt);
  model->setTabBarViewController(nullptr);
}

void logInBeijingUser() {
  auto model = GlobalModel::sharedModel();
  model->setUserId(1234);
  model->setAreaCode(std::string("110000"));
  model->setAreaName(std::string("北京市"));
  model->setLoginState(GlobalModel::kLoginOnline);
}

TestServices::TestServices(const std::string& apiHost) {
  _netWork = NetworkEngine::create(apiHost + "/api");
  _downloadManager = std::make_shared<DownloadManager>();
  _dbService = std::make_shared<DBService>();
  _downloadDao = std::make_shared<DownloadDao>();
}

void RecordingTracker::set(const std::string& key, const std::optional<std::string>& value) {
  std::lock_guard lock(mutex_);
  fields_[key] = value;
}

std::optional<std::string> RecordingTracker::get(const std::string& key) {
  std::lock_guard lock(mutex_);
  auto found = fields_.find(key);
  return found == fields_.end() ? std::nullopt : found->second;
}

void RecordingTracker::send(const platform::Dictionary& parameters) {
  std::lock_guard lock(mutex_);
  sent_.push_back(parameters);
}

std::vector<platform::Dictionary> RecordingTracker::sent() const {
  std::lock_guard lock(mutex_);
  return sent_;
}

void ScreenTest::SetUp() {
  platform::UITestDriver::reset();
  NoticeAlertView::discardAll();
  resetGlobalModel();
  reachability().setFlags(wifiFlags());
  ReachabilityNetworkStatus::install();
  ASSERT_TRUE(server.start());
  services = std::make_shared<TestServices>(server.apiHost());
  platform::Application::sharedApplication().setDelegate(services);
  auto analytics = Analytics::sharedInstance();
  analytics->setDryRun(true);
  analytics->setDefaultTracker(tracker);
  window = platform::Window::create();
}

void ScreenTest::TearDown() {
  if (services && services->downloadManager()) services->downloadManager()->pauseAllDownload();
  server.releaseHolds();
  Analytics::sharedInstance()->setDefaultTracker(nullptr);
  Analytics::sharedInstance()->reset();  // its store lies in this test's home
  NoticeAlertView::discardAll();
  platform::UITestDriver::reset();
  window.reset();
  resetGlobalModel();
  reachability().setFlags(wifiFlags());
}

std::shared_ptr<platform::NavigationController> ScreenTest::show(
    const std::shared_ptr<platform::ViewController>& root) {
  auto nav = platform::NavigationController::create(root);
  window->setRootViewController(nav);
  window->makeKeyAndVisible();
  return nav;
}

std::optional<std::string> lastNotice() {
  auto notices = NoticeAlertView::alertList();
  if (notices.empty()) return std::nullopt;
  return notices.back()->bodyText();
}

bool isWaitHUDShown(const std::shared_ptr<ProgressHUD>& hud) {
  return screenhud::isWaitHUDShown(hud);
}

int progressHUDsOn(const std::shared_ptr<platform::View>& view) {
  return static_cast<int>(ProgressHUD::allHUDsForView(*view).size());
}

std::shared_ptr<MirelTabBarController> ScreenTest::pushMainScreen(
    const std::shared_ptr<platform::ViewController>& first) {
  root = platform::ViewController::create();
  nav = show(root);
  std::vector<std::shared_ptr<platform::ViewController>> screens{
      first, platform::ViewController::create(), platform::ViewController::create(),
      platform::ViewController::create()};
  std::vector<platform::Dictionary> images(4, platform::Dictionary{{"Default", "icon_mycourse"}});
  auto tabBar = MirelTabBarController::create(
      screens, images, std::vector<std::string>{"我的课程", "本地课程", "学习记录", "设置"}, 0u);
  GlobalModel::sharedModel()->setTabBarViewController(tabBar);
  nav->pushViewController(tabBar, false);
  return tabBar;
}

bool drawnIn(platform::Window& window, const platform::Rect& rect) {
  cairo_surface_t* surface = window.renderToSurface();
  cairo_surface_flush(surface);
  const unsigned char* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  const int width = cairo_image_surface_get_width(surface);
  const int height = cairo_image_surface_get_height(surface);
  auto pixel = [&](int x, int y) {
    return *reinterpret_cast<const std::uint32_t*>(data + y * stride + x * 4);
  };
  auto channelDistance = [](std::uint32_t a, std::uint32_t b) {
    int most = 0;
    for (int shift : {0, 8, 16}) {
      int d =
          std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF));
      most = std::max(most, d);
    }
    return most;
  };
  const int x0 = std::max(0, static_cast<int>(rect.minX() * 2));
  const int y0 = std::max(0, static_cast<int>(rect.minY() * 2));
  const int x1 = std::min(width, static_cast<int>(rect.maxX() * 2));
  const int y1 = std::min(height, static_cast<int>(rect.maxY() * 2));
  bool drawn = false;
  if (x0 < x1 && y0 < y1) {
    const std::uint32_t background = pixel(x0, y0);
    for (int y = y0; y < y1 && !drawn; ++y)
      for (int x = x0; x < x1 && !drawn; ++x) drawn = channelDistance(pixel(x, y), background) > 64;
  }
  cairo_surface_destroy(surface);
  return drawn;
}

void expectSnapshot(platform::Window& window, const std::string& name, bool landscape) {
  // CHENGHENG_SNAPSHOT_DIR keeps the pictures for people to look at.
  const char* keep = std::getenv("CHENGHENG_SNAPSHOT_DIR");
  const std::string folder = keep && *keep ? keep : platform::Paths::home();
  const std::string path = platform::Paths::join(folder, name + ".png");
  std::string error;
  ASSERT_TRUE(window.snapshot(path, &error)) << error;
  cairo_surface_t* png = cairo_image_surface_create_from_png(path.c_str());
  EXPECT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS);
  EXPECT_EQ(cairo_image_surface_get_width(png), landscape ? 960 : 640);
  EXPECT_EQ(cairo_image_surface_get_height(png), landscape ? 640 : 960);
  cairo_surface_destroy(png);
}

}  // namespace screentest
