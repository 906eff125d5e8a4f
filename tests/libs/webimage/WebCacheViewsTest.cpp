// The picture extensions of image views, buttons and map markers.

#include <gtest/gtest.h>

#include "Gallery.h"
#include "platform/ui/AnnotationView.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "support/MainLoop.h"
#include "support/TempHome.h"
#include "webimage/AnnotationViewWebCache.h"
#include "webimage/ButtonWebCache.h"
#include "webimage/ImageViewWebCache.h"

namespace webimagetest {
namespace {

using platform::Image;
using platform::Size;
using platform::ControlState::Highlighted;
using platform::ControlState::Normal;
using platform::ControlState::Selected;
using testsupport::runUntil;

class WebCacheViewsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    WebImageManager::sharedManager()->cancelAll();
    server.releaseReplies();
    runUntil([] { return platform::RunLoop::main()->pendingCount() == 0; }, 1);
  }
  testsupport::TempHome home;
  ScriptedServer server{gallery};
  std::shared_ptr<Image> placeholder = std::make_shared<Image>("placeholder", nullptr, 1);
};

TEST_F(WebCacheViewsTest, ANewRequestReplacesTheOneBeforeAndNoUrlAsksNothing) {
  auto view = platform::ImageView::create(platform::Rect{0, 0, 30, 30});
  view->setImage(placeholder);
  ImageViewWebCache::setImageWithURL(view, std::nullopt);
  EXPECT_EQ(view->image(), nullptr) << "the (absent) placeholder shows";
  EXPECT_EQ(WebImageManager::sharedManager()->waitingForCacheCount(), 0u);

  int successes = 0;
  ImageViewWebCache::setImageWithURL(view, server.url("/held/9x9/first"), placeholder);
  ASSERT_TRUE(runUntil([&] { return server.requestCount() == 1; }));
  ImageViewWebCache::setImageWithURL(
      view, server.url("/7x3/second"), placeholder,
      [&](const std::shared_ptr<Image>&, bool) { ++successes; }, nullptr);
  ASSERT_TRUE(runUntil([&] { return successes == 1; }));
  EXPECT_EQ(view->image()->size(), (Size{7, 3}));
  server.releaseReplies();
  ASSERT_TRUE(server.waitForReplies(2));
  runUntil([] { return platform::RunLoop::main()->pendingCount() == 0; }, 1);
  EXPECT_EQ(view->image()->size(), (Size{7, 3})) << "the cancelled first never lands";

  ImageViewWebCache::setImageWithURL(view, server.url("/held/9x9/third"), placeholder);
  ImageViewWebCache::cancelCurrentImageLoad(view);
  EXPECT_EQ(WebImageManager::sharedManager()->waitingForCacheCount() +
                WebImageManager::sharedManager()->waitingForDownloadCount(),
            0u);
}

TEST_F(WebCacheViewsTest, AButtonRoutesImagesAndBackgroundsToItsThreeStates) {
  auto button = platform::Button::create();
  ButtonWebCache::setBackgroundImageWithURL(button, server.url("/4x2/back"), placeholder);
  for (unsigned state : {Normal, Selected, Highlighted})
    EXPECT_EQ(button->backgroundImageForState(state), placeholder);
  ASSERT_TRUE(runUntil([&] { return button->backgroundImageForState(Normal) != placeholder; }));
  for (unsigned state : {Normal, Selected, Highlighted}) {
    EXPECT_EQ(button->backgroundImageForState(state)->size(), (Size{4, 2}));
    EXPECT_EQ(button->imageForState(state), nullptr);
  }

  ButtonWebCache::setImageWithURL(button, server.url("/3x3/front"));
  ASSERT_TRUE(runUntil([&] { return button->imageForState(Normal) != nullptr; }));
  for (unsigned state : {Normal, Selected, Highlighted})
    EXPECT_EQ(button->imageForState(state)->size(), (Size{3, 3}));
  EXPECT_EQ(button->backgroundImageForState(Normal)->size(), (Size{4, 2}));
}

TEST_F(WebCacheViewsTest, AMapMarkerTakesThePictureAndItsSize) {
  auto marker = platform::AnnotationView::create(platform::Rect{100, 100, 10, 10});
  AnnotationViewWebCache::setImageWithURL(marker, server.url("/20x10/pin"), placeholder,
                                          WebImageOptions::kLowPriority);
  EXPECT_EQ(marker->image(), placeholder);
  ASSERT_TRUE(runUntil([&] { return marker->image() != placeholder; }));
  EXPECT_EQ(marker->frame(), platform::Rect(95, 100, 20, 10)) << "sized to it, same centre";
}

}  // namespace
}  // namespace webimagetest
