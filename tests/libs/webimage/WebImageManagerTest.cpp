// Requests for pictures by URL against a loopback server: one download per URL, the cache in
// memory and on disk, the failed-URL list, memory-only requests, progressive pictures, the
// prefetcher and the singletons.

#include <cairo.h>
#include <gtest/gtest.h>

#include <thread>

#include "Gallery.h"
#include "platform/foundation/Digest.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/ImageView.h"
#include "support/Files.h"
#include "support/MainLoop.h"
#include "support/TempHome.h"
#include "webimage/ImageViewWebCache.h"
#include "webimage/WebImageCache.h"
#include "webimage/WebImageDecoder.h"
#include "webimage/WebImageNotifications.h"
#include "webimage/WebImagePrefetcher.h"

namespace webimagetest {
namespace {

using platform::Image;
using platform::Size;
using testsupport::runUntil;

std::uint32_t pixel(const Image& image, int x, int y) {
  cairo_surface_flush(image.surface());
  const unsigned char* data = cairo_image_surface_get_data(image.surface());
  int stride = cairo_image_surface_get_stride(image.surface());
  return reinterpret_cast<const std::uint32_t*>(data + y * stride)[x];
}

class WebImageManagerTest : public ::testing::Test {
 protected:
  void TearDown() override {
    manager->cancelAll();
    server.releaseReplies();
    runUntil([] { return platform::RunLoop::main()->pendingCount() == 0; }, 1);
  }
  std::size_t requestsFor(const std::string& path) const {
    std::size_t n = 0;
    for (const auto& r : server.requests()) n += r.path() == path;
    return n;
  }
  std::string storedFileOf(const std::string& url) {
    return WebImageCache::sharedImageCache()->cachePathForKey(url);
  }

  testsupport::TempHome home;
  ScriptedServer server{gallery};
  std::shared_ptr<WebImageManager> manager = WebImageManager::sharedManager();
};

TEST_F(WebImageManagerTest, TwoViewsAskingOneUrlShareOneDownloadAndTheBytesAreWrittenOnce) {
  const std::string url = server.url("/held/8x6/shared.png");
  auto placeholder = std::make_shared<Image>("placeholder", nullptr, 1);
  auto first = platform::ImageView::create(platform::Rect{0, 0, 40, 40});
  auto second = platform::ImageView::create(platform::Rect{0, 0, 40, 40});
  ImageViewWebCache::setImageWithURL(first, url, placeholder);
  ImageViewWebCache::setImageWithURL(second, url, placeholder);
  EXPECT_EQ(first->image(), placeholder) << "the placeholder shows at once";
  ASSERT_TRUE(runUntil([&] { return manager->waitingForDownloadCount() == 2; }));
  ASSERT_TRUE(runUntil([&] { return server.requestCount() == 1; }));
  server.releaseReplies();

  ASSERT_TRUE(
      runUntil([&] { return first->image() != placeholder && second->image() != placeholder; }));
  EXPECT_EQ(first->image(), second->image()) << "one download, one picture for both";
  EXPECT_EQ(first->image()->size(), (Size{8, 6}));
  EXPECT_EQ(server.requestCount(), 1u);

  auto cache = WebImageCache::sharedImageCache();
  ASSERT_TRUE(runUntil([&] { return testsupport::exists(storedFileOf(url)); }));
  EXPECT_EQ(testsupport::readFile(storedFileOf(url)), testsupport::pngBytes(8, 6))
      << "the bytes as downloaded, not a new encoding";
  EXPECT_EQ(testsupport::filesIn(cache->diskCachePath()),
            (std::vector<std::string>{platform::md5Hex(url)}));
  EXPECT_EQ(cache->getDiskCount(), 1u);
  EXPECT_EQ(cache->getSize(), testsupport::pngBytes(8, 6).size());
}

TEST_F(WebImageManagerTest, UndecodableBytesGoToTheFailedUrlsATransferErrorDoesNot) {
  struct Case {
    const char* path;
    bool remembered;
    std::optional<int> code;
  };
  const Case cases[] = {
      {"/junk", true, std::nullopt},
      {"/missing", false, 404},
      {"/cut", false, -1005},
      {"/huge", false, -1005},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const std::string url = server.url(c.path);
    auto recorder = std::make_shared<Recorder>();
    std::vector<std::optional<platform::Error>> failures;
    manager->downloadWithURL(
        url, recorder, 0, nullptr,
        [&](const std::optional<platform::Error>& e) { failures.push_back(e); });
    ASSERT_TRUE(runUntil([&] { return failures.size() == 1; }));
    ASSERT_EQ(recorder->kinds(), (std::vector<std::string>{"fail"}));
    EXPECT_EQ(recorder->failCalls, 1);
    EXPECT_EQ(failures[0].has_value(), c.code.has_value());
    if (c.code) {
      EXPECT_EQ(failures[0]->code(), *c.code);
    }
    EXPECT_EQ(manager->failedURLs().count(url), c.remembered ? 1u : 0u);

    // Asked again: a remembered URL ends silently, any other is fetched again.
    auto again = std::make_shared<Recorder>();
    manager->downloadWithURL(url, again);
    if (c.remembered) {
      EXPECT_EQ(manager->waitingForCacheCount(), 0u);
      runUntil([] { return platform::RunLoop::main()->pendingCount() == 0; }, 1);
      EXPECT_TRUE(again->events.empty());
      EXPECT_EQ(requestsFor(c.path), 1u);
      manager->downloadWithURL(url, again, WebImageOptions::kRetryFailed);
    }
    ASSERT_TRUE(runUntil([&] { return again->events.size() == 1; }));
    EXPECT_EQ(requestsFor(c.path), 2u);
  }
}

TEST_F(WebImageManagerTest, MemoryOnlyRequestsKeepTheDiskFolderEmpty) {
  const std::string memoryOnly = server.url("/4x4/memory.png");
  const std::string stored = server.url("/4x4/stored.png");
  auto recorder = std::make_shared<Recorder>();
  manager->downloadWithURL(memoryOnly, recorder, WebImageOptions::kCacheMemoryOnly);
  ASSERT_TRUE(runUntil([&] { return recorder->events.size() == 1; }));
  manager->downloadWithURL(stored, recorder);
  ASSERT_TRUE(runUntil([&] { return recorder->events.size() == 2; }));
  // Disk writes run one at a time in order: once the second is on disk, the first would be too.
  ASSERT_TRUE(runUntil([&] { return testsupport::exists(storedFileOf(stored)); }));
  EXPECT_EQ(testsupport::filesIn(WebImageCache::sharedImageCache()->diskCachePath()),
            (std::vector<std::string>{platform::md5Hex(stored)}));
  EXPECT_TRUE(manager->imageWithURL(memoryOnly)) << "kept in memory";
}

TEST_F(WebImageManagerTest, AnswersFromTheCacheSayTheyAreCached) {
  const std::string url = server.url("/5x5/cached.png");
  auto recorder = std::make_shared<Recorder>();
  std::vector<bool> cachedFlags;
  auto success = [&](const std::shared_ptr<Image>&, bool cached) { cachedFlags.push_back(cached); };
  manager->downloadWithURL(url, recorder, 0, success, nullptr);
  ASSERT_TRUE(runUntil([&] { return cachedFlags.size() == 1; }));
  ASSERT_TRUE(runUntil([&] { return testsupport::exists(storedFileOf(url)); }));

  manager->downloadWithURL(url, recorder, 0, success, nullptr);
  EXPECT_EQ(cachedFlags.size(), 2u) << "a picture in memory answers at once";

  WebImageCache::sharedImageCache()->clearMemory();
  manager->downloadWithURL(url, recorder, 0, success, nullptr);
  EXPECT_EQ(cachedFlags.size(), 2u) << "the disk is read on its own queue";
  ASSERT_TRUE(runUntil([&] { return cachedFlags.size() == 3; }));
  EXPECT_EQ(cachedFlags, (std::vector<bool>{false, true, true}));
  EXPECT_EQ(server.requestCount(), 1u);
  EXPECT_EQ(recorder->finishCalls, 3);
  for (const auto& e : recorder->events) EXPECT_TRUE(e.onMain);
  EXPECT_EQ(recorder->events.back().image->size(), (Size{5, 5}));
}

TEST_F(WebImageManagerTest, AProgressiveDownloadDeliversAPartialPictureBeforeTheFinalOne) {
  const std::string url = server.url("/slow/noise.png");
  const std::size_t total = testsupport::pngBytes(64, 64, 0, true).size();
  auto recorder = std::make_shared<Recorder>();
  manager->downloadWithURL(url, recorder, WebImageOptions::kProgressiveDownload,
                           platform::Dictionary{{"n", platform::Value(7)}});
  ASSERT_TRUE(runUntil([&] { return server.requestCount() == 1; }));
  server.allowBodyBytes(total / 2);
  ASSERT_TRUE(runUntil([&] { return !recorder->events.empty(); }));
  const auto partial = recorder->events.front();
  ASSERT_EQ(partial.kind, "partial");
  EXPECT_EQ(partial.userInfo, (platform::Dictionary{{"n", platform::Value(7)}}));
  ASSERT_TRUE(partial.image);
  EXPECT_EQ(partial.image->size(), (Size{64, 64})) << "the full picture's size";
  int bottom = static_cast<int>(partial.image->size().height * partial.image->scale()) - 1;
  EXPECT_EQ(pixel(*partial.image, 0, 0) >> 24, 0xFFu) << "decoded rows at the top";
  EXPECT_EQ(pixel(*partial.image, 0, bottom) >> 24, 0u) << "the rest stays empty";

  server.allowBodyBytes(total);
  ASSERT_TRUE(runUntil([&] { return recorder->events.back().kind == "finish"; }));
  auto kinds = recorder->kinds();
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "finish"), 1);
  EXPECT_EQ(pixel(*recorder->events.back().image, 0, bottom) >> 24, 0xFFu);
}

TEST_F(WebImageManagerTest, ARequesterWaitingForTwoUrlsHearsOfBoth) {
  const std::string slow = server.url("/held/2x2/slow");
  const std::string quick = server.url("/3x3/quick");
  auto recorder = std::make_shared<Recorder>();
  manager->downloadWithURL(slow, recorder);
  ASSERT_TRUE(runUntil([&] { return server.requestCount() == 1; }));
  manager->downloadWithURL(quick, recorder);
  ASSERT_TRUE(runUntil([&] { return recorder->events.size() == 1; }));
  EXPECT_EQ(recorder->events[0].url, quick);
  EXPECT_EQ(manager->waitingForDownloadCount(), 1u) << "the slow request still waits";
  server.releaseReplies();
  ASSERT_TRUE(runUntil([&] { return recorder->events.size() == 2; }));
  EXPECT_EQ(recorder->events[1].url, slow);
  EXPECT_EQ(recorder->events[1].image->size(), (Size{2, 2}));
}

TEST_F(WebImageManagerTest, CancellingTheLastRequesterCancelsTheDownload) {
  const std::string url = server.url("/held/3x3/cancel.png");
  auto a = std::make_shared<Recorder>();
  auto b = std::make_shared<Recorder>();
  std::vector<platform::Value> stops;
  auto token = platform::NotificationCenter::defaultCenter().addObserver(
      kWebImageDownloadStopNotification,
      [&](const platform::Notification& n) { stops.push_back(n.object); });
  manager->downloadWithURL(url, a);
  manager->downloadWithURL(url, b);
  ASSERT_TRUE(runUntil([&] { return manager->waitingForDownloadCount() == 2; }));
  manager->cancelForDelegate(a.get());
  EXPECT_TRUE(stops.empty()) << "b still waits";
  manager->cancelForDelegate(b.get());
  ASSERT_EQ(stops.size(), 1u);
  EXPECT_TRUE(stops[0].object<WebImageDownloader>()) << "a cancel names its downloader";
  EXPECT_EQ(manager->waitingForDownloadCount(), 0u);
  server.releaseReplies();
  runUntil([] { return platform::RunLoop::main()->pendingCount() == 0; }, 1);
  EXPECT_TRUE(a->events.empty());
  EXPECT_TRUE(b->events.empty());
}

TEST_F(WebImageManagerTest, ThePrefetcherKeepsItsLimitAndCountsFailuresAsSkipped) {
  auto prefetcher = WebImagePrefetcher::sharedImagePrefetcher();
  EXPECT_EQ(prefetcher->options(), WebImageOptions::kLowPriority);
  prefetcher->setMaxConcurrentDownloads(2);
  std::vector<std::string> urls;
  for (int i = 0; i < 5; ++i) urls.push_back(server.url("/held/2x2/p" + std::to_string(i)));
  urls.push_back(server.url("/missing"));
  prefetcher->prefetchURLs(urls);
  ASSERT_TRUE(runUntil([&] { return server.inFlight() == 2; }));
  EXPECT_EQ(prefetcher->requestedCount(), 2u);
  server.releaseReplies();
  ASSERT_TRUE(runUntil([&] { return prefetcher->finishedCount() == 6; }));
  EXPECT_EQ(prefetcher->skippedCount(), 1u);
  EXPECT_EQ(server.maxInFlight(), 2u);
  EXPECT_TRUE(manager->imageWithURL(urls[4])) << "the pictures are in the cache";
  prefetcher->cancelPrefetching();
  EXPECT_TRUE(prefetcher->prefetchURLs().empty());
  EXPECT_EQ(prefetcher->finishedCount(), 0u);
  prefetcher->setMaxConcurrentDownloads(3);
}

TEST(WebImageSingletonsTest, AreMadeOnceWhicheverThreadComesFirst) {
  testsupport::TempHome home;
  struct Seen {
    WebImageManager* manager;
    WebImageCache* cache;
    WebImageDecoder* decoder;
    WebImagePrefetcher* prefetcher;
  };
  std::vector<Seen> seen(8);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < seen.size(); ++i) {
    threads.emplace_back([&, i] {
      seen[i] = {WebImageManager::sharedManager().get(), WebImageCache::sharedImageCache().get(),
                 WebImageDecoder::sharedImageDecoder().get(),
                 WebImagePrefetcher::sharedImagePrefetcher().get()};
    });
  }
  for (auto& t : threads) t.join();
  for (const auto& s : seen) {
    EXPECT_EQ(s.manager, WebImageManager::sharedManager().get());
    EXPECT_EQ(s.cache, WebImageCache::sharedImageCache().get());
    EXPECT_EQ(s.decoder, WebImageDecoder::sharedImageDecoder().get());
    EXPECT_EQ(s.prefetcher, WebImagePrefetcher::sharedImagePrefetcher().get());
  }
}

}  // namespace
}  // namespace webimagetest
