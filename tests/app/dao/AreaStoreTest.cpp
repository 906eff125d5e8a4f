#include <gtest/gtest.h>

#include "dao/AreaDao.h"
#include "dao/DBService.h"
#include "dao/RawDb.h"
#include "support/TempHome.h"

namespace {

using daotest::RawDb;
using Rows = std::vector<std::vector<std::string>>;

const char* kThreeLevels = R"({"areas":[
  {"areaName":"北京","areaCode":"110000","isLeaf":0,"loginType":2,"description":"京",
   "children":[
     {"areaName":"海淀","areaCode":"110108","isLeaf":0,"loginType":3,
      "children":[{"areaName":"中关村","areaCode":"11010801","isLeaf":1,"loginType":3}]},
     {"areaName":"朝阳","areaCode":"110105","isLeaf":1,"loginType":4}]},
  {"areaName":"上海","areaCode":"310000","isLeaf":1,"loginType":1}]})";

const char* kTwoLevels = R"({"areas":[
  {"areaName":"天津","areaCode":"120000","isLeaf":0,"loginType":5,
   "children":[{"areaName":"和平","areaCode":"120101","isLeaf":1,"loginType":5}]}]})";

// A region answer whose regions nest `depth` levels deep, one region per level; the deepest is
// a leaf.
std::string nestedAnswer(int depth) {
  std::string text = R"({"areas":)";
  for (int level = 1; level <= depth; ++level) {
    text += R"([{"areaName":"r)" + std::to_string(level) + R"(","areaCode":")" +
            std::to_string(level) + R"(","isLeaf":)" + (level == depth ? "1" : "0");
    if (level < depth) text += R"(,"children":)";
  }
  for (int level = 1; level <= depth; ++level) text += "}]";
  return text + "}";
}

// Counts the commits of a connection.
class CommitCounter {
 public:
  explicit CommitCounter(SQLDatabase& db) : db_(db) {
    sqlite3_commit_hook(db_.sqliteHandle(), &CommitCounter::counted, this);
  }
  ~CommitCounter() { sqlite3_commit_hook(db_.sqliteHandle(), nullptr, nullptr); }
  int commits() const { return commits_; }

 private:
  static int counted(void* self) {
    ++static_cast<CommitCounter*>(self)->commits_;
    return 0;
  }
  SQLDatabase& db_;
  int commits_ = 0;
};

class AreaStoreTest : public ::testing::Test {
 protected:
  Rows storedRows() {
    return raw_.rows(
        "select areaname,areacode,parentcode,logintype,isLeaf from area order by rowid");
  }

  testsupport::TempHome home_;
  RawDb raw_;
};

TEST_F(AreaStoreTest, RegionAnswerStoresEveryLevelAndReadsBackTwo) {
  DBService service;
  service.refreshArea(nlohmann::json::parse(kThreeLevels));
  EXPECT_EQ(storedRows(), (Rows{{"北京", "110000", "0", "2", "0"},
                                {"海淀", "110108", "110000", "3", "0"},
                                {"中关村", "11010801", "110108", "3", "1"},
                                {"朝阳", "110105", "110000", "4", "1"},
                                {"上海", "310000", "0", "1", "1"}}));
  // Codes are stored as texts.
  EXPECT_EQ(raw_.value("select typeof(areacode) from area where areaname='北京'"), "text");

  auto tree = service.getAreaFromLocalDB();
  ASSERT_EQ(tree.size(), 2u);
  const Area& beijing = *tree[0];
  EXPECT_EQ(beijing.name(), "北京");
  EXPECT_EQ(beijing.code(), "110000");
  EXPECT_EQ(beijing.parent(), "0");
  EXPECT_EQ(beijing.loginType(), 2);
  EXPECT_EQ(beijing.description(), "京");
  EXPECT_FALSE(beijing.isLeaf());
  ASSERT_TRUE(beijing.childArray());
  ASSERT_EQ(beijing.childArray()->size(), 2u);
  const Area& haidian = *(*beijing.childArray())[0];
  EXPECT_EQ(haidian.code(), "110108");
  EXPECT_EQ(haidian.parent(), "110000");
  EXPECT_FALSE(haidian.childArray());  // the third level is not read back
  // A top-level region without child rows is a leaf without a child list.
  EXPECT_TRUE(tree[1]->isLeaf());
  EXPECT_FALSE(tree[1]->childArray());

  // A later answer replaces the rows.
  service.refreshArea(nlohmann::json::parse(kTwoLevels));
  EXPECT_EQ(storedRows(),
            (Rows{{"天津", "120000", "0", "5", "0"}, {"和平", "120101", "120000", "5", "1"}}));
  EXPECT_FALSE(service.areaDao()->db()->hasOpenResultSets());
}

TEST_F(AreaStoreTest, AnswerThatDidNotDecodeKeepsTheStoredRegions) {
  DBService service;
  service.refreshArea(nlohmann::json::parse(kTwoLevels));
  Rows before = storedRows();
  const std::optional<nlohmann::json> answers[] = {
      std::nullopt,
      nlohmann::json(),
      nlohmann::json::parse(R"({"areas":[]})"),
      nlohmann::json::parse(R"({"areas":"x"})"),
      nlohmann::json::parse(R"({"error":"busy"})"),
      nlohmann::json::parse("[1,2]"),
      // Nested past the bound: refused whole, however deep (30,000 levels once overflowed the
      // stack while being stored).
      nlohmann::json::parse(nestedAnswer(33)),
      nlohmann::json::parse(nestedAnswer(30000)),
  };
  for (size_t i = 0; i < std::size(answers); ++i) {
    service.refreshArea(answers[i]);
    EXPECT_EQ(storedRows(), before) << "answer " << i;
  }
  auto deep = nlohmann::json::parse(nestedAnswer(30000));
  service.addArea(&deep["areas"], std::string("0"));
  EXPECT_EQ(storedRows(), before);
  AreaDao dao;
  dao.updateAreas(Area::jsonToObject("not json"));
  dao.updateAreas({});
  EXPECT_EQ(storedRows(), before);
  EXPECT_EQ(dao.queryAll().size(), 1u);
}

TEST_F(AreaStoreTest, UpdateAreasStoresTheListAndMarksLeavesOnTheObjects) {
  AreaDao dao;
  auto areas = Area::jsonToObject(kThreeLevels);
  // The factory gave 北京 two children and 上海 none (it is a leaf with no child list).
  dao.updateAreas(areas);
  EXPECT_EQ(storedRows(), (Rows{{"北京", "110000", "0", "2", "0"},
                                {"海淀", "110108", "110000", "3", "0"},
                                {"朝阳", "110105", "110000", "4", "1"},
                                {"上海", "310000", "0", "1", "1"}}));
  const Area& haidian = *(*areas[0]->childArray())[0];
  EXPECT_EQ(haidian.parent(), "110000");
  // A node without children is a leaf in memory, whatever its row says.
  EXPECT_TRUE(haidian.isLeaf());
  EXPECT_FALSE(areas[0]->isLeaf());
  EXPECT_EQ(areas[1]->parent(), "0");

  // A non-leaf region whose answer listed no children.
  auto childless = Area::jsonToObject(R"({"areas":[{"areaName":"x","areaCode":"1","isLeaf":0}]})");
  dao.updateAreas(childless);
  EXPECT_TRUE(childless[0]->isLeaf());
  EXPECT_EQ(storedRows(), (Rows{{"x", "1", "0", "NULL", "0"}}));
}

TEST_F(AreaStoreTest, InsertParentAddsASubtreeBesideTheStoredRegions) {
  AreaDao dao;
  dao.updateAreas(Area::jsonToObject(kTwoLevels));
  // A district with one street, added under 天津 without replacing anything.
  auto street = std::make_shared<Area>();
  street->setName("小白楼");
  street->setCode("12010101");
  auto district = std::make_shared<Area>();
  district->setName("南开");
  district->setCode("120104");
  district->setChildArray(model::List<Area>{street});
  dao.insertParent(district, std::string("120000"));
  EXPECT_EQ(storedRows(), (Rows{{"天津", "120000", "0", "5", "0"},
                                {"和平", "120101", "120000", "5", "1"},
                                {"南开", "120104", "120000", "NULL", "0"},
                                {"小白楼", "12010101", "120104", "NULL", "0"}}));
  EXPECT_EQ(street->parent(), "120104");
  EXPECT_TRUE(street->isLeaf());
  EXPECT_FALSE(district->isLeaf());
  ASSERT_EQ(dao.queryAll().size(), 1u);
  EXPECT_EQ(dao.queryAll()[0]->childArray()->size(), 2u);
  EXPECT_FALSE(dao.db()->hasOpenResultSets());
}

TEST_F(AreaStoreTest, RegionsNestedUpToTheBoundAreStored) {
  DBService service;
  service.refreshArea(nlohmann::json::parse(nestedAnswer(32)));
  auto rows = storedRows();
  ASSERT_EQ(rows.size(), 32u);
  EXPECT_EQ(rows[31], (std::vector<std::string>{"r32", "32", "31", "NULL", "1"}));
  // Children under a leaf are never stored, so their depth does not count.
  auto leafWithDeepChildren = nlohmann::json::parse(nestedAnswer(30000));
  leafWithDeepChildren["areas"][0]["isLeaf"] = 1;
  service.refreshArea(std::move(leafWithDeepChildren));  // a copy would recurse as deep
  EXPECT_EQ(storedRows(), (Rows{{"r1", "1", "0", "NULL", "1"}}));
}

// Thousands of regions, each committed on its own, took more than a minute: a region answer,
// and a region list, are stored in one transaction.
TEST_F(AreaStoreTest, ARegionAnswerIsStoredInOneTransaction) {
  nlohmann::json areas = nlohmann::json::array();
  for (int province = 0; province < 30; ++province) {
    nlohmann::json cities = nlohmann::json::array();
    for (int city = 0; city < 100; ++city) {
      cities.push_back(
          {{"areaName", "c"}, {"areaCode", std::to_string(province * 1000 + city)}, {"isLeaf", 1}});
    }
    areas.push_back({{"areaName", "p"},
                     {"areaCode", std::to_string(province)},
                     {"isLeaf", 0},
                     {"children", cities}});
  }
  nlohmann::json answer = {{"areas", areas}};

  DBService service;
  {
    CommitCounter counter(*service.areaDao()->db());
    service.refreshArea(answer);
    EXPECT_EQ(counter.commits(), 1);
  }
  EXPECT_EQ(raw_.value("select count(*) from area"), "3030");

  AreaDao dao;
  auto list = Area::jsonToObject(answer.dump());
  ASSERT_EQ(list.size(), 30u);
  {
    CommitCounter counter(*dao.db());
    dao.updateAreas(list);
    EXPECT_EQ(counter.commits(), 1);
  }
  EXPECT_EQ(raw_.value("select count(*) from area"), "3030");
}

// While another connection of this thread reads the table, the rewrite cannot take the file: the
// stored tree stays whole instead of being half replaced.
TEST_F(AreaStoreTest, AnswerThatCannotTakeTheFileKeepsTheStoredRegions) {
  DBService service;
  service.refreshArea(nlohmann::json::parse(kTwoLevels));
  Rows before = storedRows();
  AreaDao reader;
  auto rs = reader.db()->executeQuery("select * from area");
  ASSERT_TRUE(rs && rs->next());
  service.refreshArea(nlohmann::json::parse(kThreeLevels));
  AreaDao writer;
  writer.updateAreas(Area::jsonToObject(kThreeLevels));
  rs->close();
  EXPECT_EQ(storedRows(), before);
}

}  // namespace
