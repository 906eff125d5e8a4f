// The pixel-hit store "TM.sql" on TAGThread: limits by count and age, failure stamps, fetch
// order, and a broken store file.

#include <gtest/gtest.h>

#include <atomic>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Paths.h"
#include "sqlite/SQLDatabase.h"
#include "sqlite/SQLResultSet.h"
#include "support/Files.h"
#include "support/TempHome.h"
#include "tagmanager/TagPixelSupport.h"

namespace {

using testsupport::onTagThread;
using testsupport::storedHits;

class TAGPixelHitStoreTest : public ::testing::Test {
 protected:
  std::shared_ptr<TAGDataProvider> openStore() {
    auto store = TAGDataProvider::init();
    onTagThread();
    return store;
  }

  // Stores a hit before the clock moves on (adding is posted to TAGThread).
  static void add(TAGDataProvider& store, const std::string& url) {
    store.addHitWithURLString(url);
    onTagThread();
  }

  // The store's database, read on TAGThread, which owns it.
  static std::shared_ptr<SQLDatabase> contextOf(const TAGDataProvider& store) {
    std::shared_ptr<SQLDatabase> context;
    onTagThread([&] { context = store.context(); });
    return context;
  }

  testsupport::TempHome home_;
  platform::ScopedManualClock clock_;
};

TEST_F(TAGPixelHitStoreTest, StoreLivesInTheLibraryFolderAndStartsWithHasHits) {
  auto store = TAGDataProvider::create();
  EXPECT_FALSE(store->hasHits());
  store = openStore();
  EXPECT_TRUE(store->hasHits()) << "set once opening was tried, so a first dispatch looks";
  EXPECT_NE(contextOf(*store), nullptr);
  EXPECT_TRUE(testsupport::exists(platform::Paths::join(platform::Paths::library(), "TM.sql")));
  EXPECT_TRUE(storedHits(*store).empty());
  EXPECT_FALSE(store->hasHits());
}

TEST_F(TAGPixelHitStoreTest, SavingKeepsTheNewest2000) {
  auto store = openStore();
  for (int i = 0; i < 2001; ++i) {
    store->addHitWithURLString("http://127.0.0.1/p?n=" + std::to_string(i));
  }
  auto hits = storedHits(*store);
  ASSERT_EQ(hits.size(), 2000u);
  EXPECT_EQ(hits.front().dispatchURL, "http://127.0.0.1/p?n=1");
  EXPECT_EQ(hits.back().dispatchURL, "http://127.0.0.1/p?n=2000");
}

TEST_F(TAGPixelHitStoreTest, HitsThirtyDaysOldGoAtTheNextSave) {
  auto store = openStore();
  add(*store, "http://127.0.0.1/old");
  clock_->advanceSeconds(1);
  add(*store, "http://127.0.0.1/younger");
  clock_->advanceSeconds(2592000.0);
  // The first is now 30 days and 1 s old: gone at this save; the second, exactly 30 days old,
  // is at the limit and goes too.
  add(*store, "http://127.0.0.1/new");
  auto hits = storedHits(*store);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].dispatchURL, "http://127.0.0.1/new");

  clock_->advanceSeconds(2592000.0 - 1);
  add(*store, "http://127.0.0.1/newer");
  EXPECT_EQ(storedHits(*store).size(), 2u) << "a hit 30 days less 1 s old stays";
}

TEST_F(TAGPixelHitStoreTest, FetchHandsOutTheOldestUpToTheLimitAndNeverReusesIds) {
  auto store = openStore();
  for (int i = 0; i < 41; ++i) {
    add(*store, "http://127.0.0.1/" + std::to_string(i));
    clock_->advanceSeconds(1);
  }
  auto hits = storedHits(*store, 40);
  ASSERT_EQ(hits.size(), 40u);
  EXPECT_EQ(hits.front().dispatchURL, "http://127.0.0.1/0");
  EXPECT_EQ(hits.back().dispatchURL, "http://127.0.0.1/39");
  EXPECT_TRUE(store->hasHits());

  std::int64_t lastId = storedHits(*store).back().objectId;
  store->deleteHits(storedHits(*store));
  EXPECT_TRUE(storedHits(*store).empty());
  EXPECT_FALSE(store->hasHits());
  store->addHitWithURLString("http://127.0.0.1/again");
  EXPECT_GT(storedHits(*store).front().objectId, lastId);
}

TEST_F(TAGPixelHitStoreTest, AFailedHitKeepsItsFirstFailureTime) {
  auto store = openStore();
  store->addHitWithURLString("http://127.0.0.1/fails");
  auto hits = storedHits(*store);
  EXPECT_FALSE(hits[0].dispatchTime.has_value());
  clock_->advanceSeconds(10);
  auto firstFailure = clock_->now();
  store->updateFailedHits(hits);
  hits = storedHits(*store);
  ASSERT_TRUE(hits[0].dispatchTime.has_value());
  EXPECT_NEAR(platform::toSeconds(*hits[0].dispatchTime), platform::toSeconds(firstFailure), 1e-3);
  clock_->advanceSeconds(500);
  store->updateFailedHits(hits);
  EXPECT_NEAR(platform::toSeconds(*storedHits(*store)[0].dispatchTime),
              platform::toSeconds(firstFailure), 1e-3);
}

TEST_F(TAGPixelHitStoreTest, ExitSavesAndWaits) {
  auto store = openStore();
  store->setMaxHitCount(1);
  store->addHitWithURLString("http://127.0.0.1/a");
  store->addHitWithURLString("http://127.0.0.1/b");
  store->onExit();
  auto hits = storedHits(*store);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].dispatchURL, "http://127.0.0.1/b");
}

TEST_F(TAGPixelHitStoreTest, AStoreFileThatIsNotADatabaseIsMadeAfresh) {
  std::string path = platform::Paths::join(platform::Paths::library(), "TM.sql");
  testsupport::writeFile(path, std::string(4096, 'x'));
  auto store = openStore();
  ASSERT_NE(contextOf(*store), nullptr);
  store->addHitWithURLString("http://127.0.0.1/fresh");
  EXPECT_EQ(storedHits(*store).size(), 1u);
}

TEST(TAGDispatchUtilTest, BackgroundRunsInlineOnTagThreadWhateverTheWaitFlag) {
  std::atomic<bool> ranInline{false};
  TAGDispatchUtil::background(
      [&] {
        bool ran = false;
        TAGDispatchUtil::background([&] { ran = true; }, false);
        ranInline = ran && TAGDispatchUtil::isOnThread();
      },
      true);
  EXPECT_TRUE(ranInline);
  EXPECT_EQ(TAGDispatchUtil::thread()->name(), "TAGThread");
  TAGDispatchUtil::background(nullptr, true);
}

TEST(TAGDispatchUtilTest, UserAgentNamesDeviceSystemLanguageAndCountry) {
  EXPECT_EQ(TAGDispatchUtil::userAgentStringWithProduct(
                "TagManager", "3.01", "iPhone", "iPhone OS", "7.1",
                TAGDispatchUtil::systemLanguageFromLanguages({"zh-Hans", "en"}),
                TAGDispatchUtil::systemCountryFromLocale("zh_CN")),
            "TagManager/3.01 (iPhone; U; CPU iPhone OS 7.1 like Mac OS X; zh-hans-cn)");
  EXPECT_EQ(TAGDispatchUtil::systemLanguageFromLanguages({}), "en");
  for (const char* locale : {"C", "en", "POSIX"}) {
    EXPECT_EQ(TAGDispatchUtil::userAgentStringWithProduct(
                  "TagManager", "3.01", "x86_64", "Linux", "6.1",
                  TAGDispatchUtil::systemLanguageFromLanguages({}),
                  TAGDispatchUtil::systemCountryFromLocale(locale)),
              "TagManager/3.01 (x86_64; U; CPU Linux 6.1 like Mac OS X; en)")
        << locale;
  }
  EXPECT_EQ(TAGDispatchUtil::userAgentString().rfind("TagManager/3.01 (", 0), 0u);
}

}  // namespace
