// The hit store on real SQLite files in the test's home.

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "AnalyticsTestSupport.h"
#include "analytics/AnalyticsDataStore.h"
#include "platform/foundation/ApplicationNotifications.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Paths.h"
#include "sqlite/SQLDatabase.h"
#include "support/Files.h"

namespace analyticstest {
namespace {

using platform::Dictionary;

class AnalyticsDataStoreTest : public AnalyticsTest {
 protected:
  static std::string pathOf(const char* name) {
    return AnalyticsDataStore::databaseFullPath(name).value();
  }

  static Dictionary hit(const std::string& name, std::optional<platform::Date> timestamp = {}) {
    Dictionary hit{{"parameters", Dictionary{{"&cd", name}, {"&t", "appview"}}}};
    if (timestamp) hit["timestamp"] = *timestamp;
    return hit;
  }

  static std::vector<std::string> names(const std::vector<Dictionary>& hits) {
    std::vector<std::string> names;
    for (const auto& h : hits) names.push_back(h.at("parameters")["&cd"].stringValue());
    return names;
  }

  // Runs SQL on a store file through a connection of its own.
  static void execute(const char* name, const std::string& sql) {
    auto db = SQLDatabase::databaseWithPath(pathOf(name));
    ASSERT_TRUE(db->open());
    ASSERT_TRUE(db->executeUpdate(sql)) << db->lastErrorMessage();
    db->close();
  }

  platform::Date now() { return clock_->now(); }
};

TEST_F(AnalyticsDataStoreTest, FreshStoreMakesBothFilesAndAStableClientId) {
  std::string clientId;
  {
    auto store = AnalyticsDataStore::dataStore();
    auto id = store->clientId();
    ASSERT_TRUE(id);
    clientId = *id;
    EXPECT_TRUE(std::regex_match(
        clientId, std::regex("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}")));
    EXPECT_TRUE(store->setUpCoreData());
    EXPECT_EQ(store->hitCount(), 0);
    EXPECT_EQ(store->fetchHitsWithLimit(0)->size(), 0u);
  }
  EXPECT_TRUE(testsupport::exists(pathOf("analytics-v3.sql")));
  EXPECT_TRUE(testsupport::exists(pathOf("analytics-v2.sql")));
  auto reopened = AnalyticsDataStore::dataStore();
  EXPECT_EQ(reopened->clientId(), clientId);
}

TEST_F(AnalyticsDataStoreTest, HitsComeBackOldestFirstWithTheirTimestamp) {
  auto store = AnalyticsDataStore::dataStore();
  auto start = now();
  store->addHit(hit("second", start + std::chrono::seconds(5)));
  store->addHit(hit("first", start));
  store->addHit(hit("unstamped"));
  ASSERT_TRUE(store->save());
  auto hits = store->fetchHitsWithLimit(0).value();
  EXPECT_EQ(names(hits), (std::vector<std::string>{"first", "unstamped", "second"}));
  EXPECT_EQ(hits[1].at("timestamp").asDate(), start);
  EXPECT_EQ(hits[0].at("parameters")["&t"].stringValue(), "appview");
  EXPECT_EQ(names(store->fetchHitsWithLimit(2).value()),
            (std::vector<std::string>{"first", "unstamped"}));
  // Null values survive the round trip; other kinds are not kept.
  store->addHit({{"parameters", Dictionary{{"&el", platform::Value()}, {"&ev", 5}}}});
  hits = store->fetchHitsWithLimit(0).value();
  ASSERT_EQ(hits.size(), 4u);
  const Dictionary& kinds = *hits[2].at("parameters").asDictionary();
  EXPECT_EQ(kinds.count("&el"), 1u);
  EXPECT_TRUE(kinds.at("&el").isNull());
  EXPECT_EQ(kinds.count("&ev"), 0u);
}

TEST_F(AnalyticsDataStoreTest, DeletingByIdGoesOnPastIdsThatNameNothing) {
  auto store = AnalyticsDataStore::dataStore();
  for (const char* name : {"a", "b", "c"}) store->addHit(hit(name));
  auto hits = store->fetchHitsWithLimit(0).value();
  std::optional<platform::Error> error;
  EXPECT_FALSE(store->deleteHitsWithIds({hits[0].at("objectID").stringValue(), "v3/999", "nonsense",
                                         hits[2].at("objectID").stringValue()},
                                        &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(names(store->fetchHitsWithLimit(0).value()), (std::vector<std::string>{"b"}));
  EXPECT_TRUE(store->deleteHitsWithIds({hits[1].at("objectID").stringValue()}, &error));
  EXPECT_FALSE(error);
  EXPECT_EQ(store->hitCount(), 0);
}

TEST_F(AnalyticsDataStoreTest, IdsAreNeverReused) {
  auto store = AnalyticsDataStore::dataStore();
  store->addHit(hit("old"));
  std::string oldId = store->fetchHitsWithLimit(1).value()[0].at("objectID").stringValue();
  ASSERT_TRUE(store->deleteHitsWithIds({oldId}));
  store->addHit(hit("new"));
  // A late delete of the old id must not remove the newer hit.
  EXPECT_FALSE(store->deleteHitsWithIds({oldId}));
  EXPECT_EQ(names(store->fetchHitsWithLimit(0).value()), (std::vector<std::string>{"new"}));
}

TEST_F(AnalyticsDataStoreTest, SaveKeepsTheNewestTwoThousand) {
  auto store = AnalyticsDataStore::dataStore();
  auto start = now();
  for (int i = 0; i < 2001; ++i) {
    store->addHit(hit(std::to_string(i), start + std::chrono::seconds(i)));
  }
  EXPECT_EQ(store->hitCount(), 2001);
  ASSERT_TRUE(store->save());
  EXPECT_EQ(store->hitCount(), 2000);
  EXPECT_EQ(names(store->fetchHitsWithLimit(1).value()), (std::vector<std::string>{"1"}));
  EXPECT_TRUE(logger_->contains("Deleting excess hits."));
}

TEST_F(AnalyticsDataStoreTest, CorruptStoreFileIsMadeAfresh) {
  std::filesystem::create_directories(platform::Paths::library());
  testsupport::writeFile(pathOf("analytics-v3.sql"), std::string(4096, 'g'));
  auto store = AnalyticsDataStore::dataStore();
  store->addHit(hit("after"));
  EXPECT_EQ(names(store->fetchHitsWithLimit(0).value()), (std::vector<std::string>{"after"}));
  EXPECT_TRUE(
      logger_->contains("Corrupted database with URL file://" + pathOf("analytics-v3.sql") + ": "));
  // A file of our name but with other tables is no store of ours either.
  store.reset();
  Analytics::sharedInstance()->reset();
  execute("analytics-v3.sql", "CREATE TABLE AnalyticsHit (other TEXT)");
  store = AnalyticsDataStore::dataStore();
  store->addHit(hit("again"));
  EXPECT_EQ(store->hitCount(), 1);
}

TEST_F(AnalyticsDataStoreTest, StoreThatCannotBeMadeFailsItsSetUp) {
  // A folder of the store's name can be neither opened nor deleted.
  std::filesystem::create_directories(pathOf("analytics-v3.sql") + "/inside");
  auto store = AnalyticsDataStore::dataStore();
  EXPECT_EQ(store->hitCount(), -1);
  EXPECT_FALSE(store->setUpCoreData());
  EXPECT_FALSE(store->clientId());
  std::optional<platform::Error> error;
  EXPECT_FALSE(store->fetchHitsWithLimit(0, &error));
  EXPECT_FALSE(error);
  EXPECT_TRUE(logger_->contains("Can not setup Core Data stack"));
  EXPECT_TRUE(logger_->contains("Error creating database with URL"));
}

TEST_F(AnalyticsDataStoreTest, UndecodableRowsAreDeletedAndTheFetchGoesOn) {
  auto store = AnalyticsDataStore::dataStore();
  auto start = now();
  for (int i = 0; i < 5; ++i)
    store->addHit(hit(std::to_string(i), start + std::chrono::seconds(i)));
  execute("analytics-v3.sql", "UPDATE AnalyticsHit SET parameters = '[1' WHERE id IN (1, 2)");
  execute("analytics-v3.sql", "UPDATE AnalyticsHit SET parameters = '\"text\"' WHERE id = 4");
  // The limit is still met from the rows behind the bad ones.
  EXPECT_EQ(names(store->fetchHitsWithLimit(2).value()), (std::vector<std::string>{"2", "4"}));
  EXPECT_EQ(store->hitCount(), 2);
  EXPECT_EQ(logger_->count("Deleting a stored hit that does not decode"), 3u);
}

TEST_F(AnalyticsDataStoreTest, OldStoreHitsGoFirstAndStaleOnesAreDropped) {
  {
    auto store = AnalyticsDataStore::dataStore();
    store->clientId();
  }
  double nowSeconds = platform::toSeconds(now());
  auto addOld = [&](double age, const std::string& data, const std::string& url) {
    execute("analytics-v2.sql",
            "INSERT INTO AnalyticsHit (timestamp, parametersData, dispatchUrl, analyticsVersion) "
            "VALUES (" +
                std::to_string(nowSeconds - age) + ", '" + data + "', '" + url + "', '2.0')");
  };
  addOld(31 * 86400.0, R"({"t":"appview","cd":"stale"})", "http://old.example/collect");
  addOld(60.0, R"({"t":"appview","cd":"plain"})", "http://old.example/collect");
  addOld(30.0, R"({"t":"event","cd":"secure"})", "https://old.example/collect");

  auto store = AnalyticsDataStore::dataStore();
  EXPECT_EQ(store->hitCount(), 2);
  store->addHit(hit("new"));
  EXPECT_TRUE(store->currentContextIsOld());
  auto hits = store->fetchHitsWithLimit(0).value();
  ASSERT_EQ(names(hits), (std::vector<std::string>{"plain", "secure"}));
  const Dictionary& plain = *hits[0].at("parameters").asDictionary();
  EXPECT_EQ(plain.at("&t").stringValue(), "appview");
  EXPECT_EQ(plain.at("useSecure").stringValue(), "0");
  EXPECT_EQ(plain.at("analyticsVersion").stringValue(), "2.0");
  EXPECT_EQ(hits[1].at("parameters").asDictionary()->count("useSecure"), 0u);

  ASSERT_TRUE(store->deleteHitsWithIds(
      {hits[0].at("objectID").stringValue(), hits[1].at("objectID").stringValue()}));
  ASSERT_TRUE(store->save());
  EXPECT_FALSE(store->currentContextIsOld());
  EXPECT_EQ(names(store->fetchHitsWithLimit(0).value()), (std::vector<std::string>{"new"}));
}

TEST_F(AnalyticsDataStoreTest, DeleteAllEmptiesBothStores) {
  auto store = AnalyticsDataStore::dataStore();
  store->clientId();
  execute("analytics-v2.sql",
          "INSERT INTO AnalyticsHit (timestamp, parametersData, dispatchUrl, analyticsVersion) "
          "VALUES (0, '{}', 'x', 'y')");
  store->addHit(hit("a"));
  ASSERT_TRUE(store->deleteAllHits());
  EXPECT_EQ(store->hitCount(), 0);
  EXPECT_EQ(store->clientId().has_value(), true);
}

TEST_F(AnalyticsDataStoreTest, ResigningActiveSavesAndTheCapHolds) {
  auto store = AnalyticsDataStore::dataStore();
  store->setMaxHitCount(2);
  for (const char* name : {"a", "b", "c"}) store->addHit(hit(name));
  EXPECT_EQ(store->hitCount(), 3);
  platform::NotificationCenter::defaultCenter().post(
      platform::kApplicationWillResignActiveNotification);
  EXPECT_EQ(names(store->fetchHitsWithLimit(0).value()), (std::vector<std::string>{"b", "c"}));
}

TEST_F(AnalyticsDataStoreTest, ClientIdSetIsKept) {
  {
    auto store = AnalyticsDataStore::dataStore();
    store->setClientId("chosen-id");
    EXPECT_EQ(store->clientId(), "chosen-id");
  }
  EXPECT_EQ(AnalyticsDataStore::dataStore()->clientId(), "chosen-id");
}

}  // namespace
}  // namespace analyticstest
