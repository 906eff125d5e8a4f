// The two-level cache: memory and the disk folder, the scale a name gives, queries answered at
// once or on the main thread, and what the application's notifications do to it.

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Digest.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/Application.h"
#include "support/Files.h"
#include "support/MainLoop.h"
#include "support/Pictures.h"
#include "support/TempHome.h"
#include "webimage/WebImageCache.h"
#include "webimage/WebImageScale.h"

namespace {

namespace fs = std::filesystem;
using platform::Bytes;
using platform::Image;
using platform::Size;
using testsupport::runUntil;

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Answers of a cache query, and the thread each came on.
class Answers : public WebImageCacheDelegate {
 public:
  struct Answer {
    bool found;
    std::shared_ptr<Image> image;
    std::string key;
    platform::Value userInfo;
    bool onMain;
  };
  std::vector<Answer> answers;
  void imageCacheDidFindImage(WebImageCache&, const std::shared_ptr<Image>& image,
                              const std::string& key, const platform::Value& info) override {
    answers.push_back({true, image, key, info, platform::RunLoop::isMainThread()});
  }
  void imageCacheDidNotFindImageForKey(WebImageCache&, const std::string& key,
                                       const platform::Value& info) override {
    answers.push_back({false, nullptr, key, info, platform::RunLoop::isMainThread()});
  }
};

class WebImageCacheTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::Application::reset(); }
  void TearDown() override {
    WebImageCache::setMaxCacheAge(WebImageCache::kDefaultMaxCacheAge);
    platform::Application::reset();
  }
  testsupport::TempHome home;
  std::shared_ptr<WebImageCache> cache = WebImageCache::sharedImageCache();
};

TEST(WebImageScaleTest, TheDoubleScaleMarkCountsBeforeAThreeOrFourLetterExtension) {
  const std::pair<const char*, double> cases[] = {
      {"http://h/a@2x.png", 2.0},
      {"http://h/a@2x.jpeg", 2.0},
      {"a@2x.png", 2.0},
      {"http://h/a@2x.gz", 1.0},
      {"http://h/a@2x.jpegx", 1.0},
      {"http://h/a.png", 1.0},
      {"http://h/@2x.png?v=1", 1.0},
      {"@2x.png", 1.0},
      {"", 1.0},
  };
  for (const auto& [name, scale] : cases)
    EXPECT_EQ(WebImageScale::scaleForName(name), scale) << name;
  auto image = WebImageScale::imageWithData(bytesOf(testsupport::pngBytes(8, 6)), "h/b@2x.png");
  ASSERT_TRUE(image);
  EXPECT_EQ(image->scale(), 2.0);
  EXPECT_EQ(image->size(), (Size{4, 3}));
}

TEST_F(WebImageCacheTest, TheFolderLivesUnderTheCachesFolderOneFilePerKey) {
  EXPECT_EQ(cache->diskCachePath(), platform::Paths::join(platform::Paths::caches(), "ImageCache"));
  EXPECT_TRUE(fs::is_directory(cache->diskCachePath()));
  EXPECT_EQ(cache->cachePathForKey("http://h/a.png"),
            cache->diskCachePath() + "/" + platform::md5Hex("http://h/a.png"));
}

TEST_F(WebImageCacheTest, PicturesStoredWithoutBytesGoToDiskAsJpegAndComeBackAtTheirScale) {
  auto picture = Image::imageWithData(bytesOf(testsupport::pngBytes(10, 8, 0xFF204080)));
  const std::string key = "http://h/photo@2x.png";
  cache->storeImage(picture, key);
  EXPECT_EQ(cache->imageFromKey(key, false), picture) << "in memory at once";
  ASSERT_TRUE(runUntil([&] { return testsupport::exists(cache->cachePathForKey(key)); }));
  std::string stored = testsupport::readFile(cache->cachePathForKey(key));
  ASSERT_GE(stored.size(), 3u);
  EXPECT_EQ(stored.substr(0, 3), "\xFF\xD8\xFF") << "a JPEG";

  cache->clearMemory();
  EXPECT_EQ(cache->imageFromKey(key, false), nullptr);
  auto fromDisk = cache->imageFromKey(key);
  ASSERT_TRUE(fromDisk);
  EXPECT_EQ(fromDisk->scale(), 2.0) << "the key's name gives the scale";
  EXPECT_EQ(fromDisk->size(), (Size{5, 4}));

  cache->storeImage(nullptr, key);
  cache->storeImage(picture, "");
  cache->removeImageForKey(key);
  EXPECT_FALSE(testsupport::exists(cache->cachePathForKey(key)));
  EXPECT_EQ(cache->imageFromKey(key), nullptr);
}

TEST_F(WebImageCacheTest, QueriesAnswerMemoryHitsAtOnceAndDiskReadsOnTheMainThread) {
  auto answers = std::make_shared<Answers>();
  cache->queryDiskCacheForKey("none", nullptr, {});
  cache->queryDiskCacheForKey(std::nullopt, answers, platform::Value(1));
  ASSERT_EQ(answers->answers.size(), 1u) << "no key: not found at once";
  EXPECT_FALSE(answers->answers[0].found);

  auto picture = Image::imageWithData(bytesOf(testsupport::pngBytes(4, 2)));
  cache->storeImage(picture, bytesOf(testsupport::pngBytes(4, 2)), "k", true);
  cache->queryDiskCacheForKey("k", answers, platform::Value(2));
  ASSERT_EQ(answers->answers.size(), 2u) << "a memory hit answers at once";
  EXPECT_EQ(answers->answers[1].image, picture);
  ASSERT_TRUE(runUntil([&] { return testsupport::exists(cache->cachePathForKey("k")); }));

  cache->clearMemory();
  cache->queryDiskCacheForKey("k", answers, platform::Value(3));
  cache->queryDiskCacheForKey("absent", answers, platform::Value(4));
  EXPECT_EQ(answers->answers.size(), 2u);
  ASSERT_TRUE(runUntil([&] { return answers->answers.size() == 4; }));
  const auto& hit = answers->answers[2];
  EXPECT_TRUE(hit.found);
  EXPECT_TRUE(hit.onMain);
  EXPECT_EQ(hit.userInfo, platform::Value(3));
  EXPECT_EQ(hit.image->size(), (Size{4, 2}));
  EXPECT_EQ(hit.image->scale(), 2.0) << "force-decoded at the screen's scale";
  EXPECT_EQ(cache->imageFromKey("k", false), hit.image) << "put back in memory";
  EXPECT_FALSE(answers->answers[3].found);
  EXPECT_EQ(answers->answers[3].key, "absent");
}

TEST_F(WebImageCacheTest, TerminationRemovesFilesOlderThanTheMaximumAge) {
  platform::ScopedManualClock clock;
  const auto now = clock->now();
  using std::chrono::seconds;
  const std::pair<const char*, platform::Date::duration> files[] = {
      {"seven days and a second", seconds(7 * 86400 + 1)},
      {"exactly seven days", seconds(7 * 86400)},
      {"six days", seconds(6 * 86400)},
      {"just now", seconds(0)},
  };
  for (const auto& [name, age] : files) {
    std::string path = cache->cachePathForKey(name);
    testsupport::writeFile(path, "x");
    fs::last_write_time(path, std::chrono::file_clock::from_sys(now - age));
  }
  platform::Application::sharedApplication().terminate();
  std::vector<std::string> left;
  for (const auto& [name, age] : files) {
    if (testsupport::exists(cache->cachePathForKey(name))) left.push_back(name);
  }
  EXPECT_EQ(left, (std::vector<std::string>{"six days", "just now"}));

  WebImageCache::setMaxCacheAge(3600);
  clock->advanceSeconds(3601);
  cache->cleanDisk();
  EXPECT_EQ(cache->getDiskCount(), 0u) << "the age follows the clock and the set maximum";
}

TEST_F(WebImageCacheTest, MemoryWarningsAndTheBackgroundEmptyTheMemory) {
  auto picture = Image::imageWithData(bytesOf(testsupport::pngBytes(2, 2)));
  auto& app = platform::Application::sharedApplication();
  cache->storeImage(picture, "warned", false);
  app.receiveMemoryWarning();
  EXPECT_EQ(cache->imageFromKey("warned"), nullptr);
  cache->storeImage(picture, "backgrounded", false);
  app.enterBackground();
  EXPECT_EQ(cache->imageFromKey("backgrounded"), nullptr);
  EXPECT_EQ(cache->getDiskCount(), 0u) << "memory-only pictures never reach the disk";
}

TEST_F(WebImageCacheTest, ClearingTheDiskLeavesAnEmptyFolder) {
  testsupport::writeFile(cache->cachePathForKey("a"), "12345");
  testsupport::writeFile(cache->cachePathForKey("b"), "678");
  EXPECT_EQ(cache->getSize(), 8u);
  EXPECT_EQ(cache->getDiskCount(), 2u);
  cache->clearDisk();
  EXPECT_TRUE(fs::is_directory(cache->diskCachePath()));
  EXPECT_EQ(cache->getDiskCount(), 0u);
}

}  // namespace
