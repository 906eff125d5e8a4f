#include <gtest/gtest.h>

#include "dao/CourseWareDao.h"
#include "dao/DBService.h"
#include "dao/RawDb.h"
#include "dao/ReClassDao.h"
#include "model/GlobalModel.h"
#include "support/TempHome.h"

namespace {

using daotest::RawDb;

std::shared_ptr<CourseWare> lecture(int id, const std::string& name, int total, int listened) {
  auto cw = std::make_shared<CourseWare>();
  cw->setCwId(id);
  cw->setName(name);
  cw->setUrl("http://web/" + std::to_string(id) + ".htm");
  cw->setVideoUrl("http://video/" + std::to_string(id) + ".m3u8");
  cw->setTotalMins(total);
  cw->setListenedMins(listened);
  return cw;
}

std::shared_ptr<ReClass> reclass(int id, const std::string& year, const std::string& type,
                                 model::OptionalList<CourseWare> cws) {
  auto rc = std::make_shared<ReClass>();
  rc->setReClassId(id);
  rc->setReClassName("class " + std::to_string(id));
  rc->setType(type);
  rc->setTypeName("专业");
  rc->setTeacherName("王老师");
  rc->setCwNum(cws ? static_cast<int>(cws->size()) : 0);
  rc->setTotalMins(100);
  rc->setListenedMins(40);
  rc->setYear(year);
  rc->setCws(std::move(cws));
  return rc;
}

std::shared_ptr<Course> course(int year, model::List<ReClass> classes) {
  auto c = std::make_shared<Course>();
  c->setYear(year);
  c->setReClasses(std::move(classes));
  return c;
}

class CourseStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GlobalModel::sharedModel()->setUserId(7);
    GlobalModel::sharedModel()->setCourses(std::nullopt);
  }
  void TearDown() override {
    GlobalModel::sharedModel()->setUserId(0);
    GlobalModel::sharedModel()->setCourses(std::nullopt);
  }

  testsupport::TempHome home_;
};

TEST_F(CourseStoreTest, StoredTreeComesBackNewestYearFirst) {
  DBService service;
  model::List<Course> data = {
      course(2013, {reclass(1, "2013", "1",
                            model::List<CourseWare>{lecture(11, "一", 40, 10),
                                                    lecture(12, "二", 30, 0)})}),
      course(2014, {reclass(2, "2014", "2", std::nullopt)}),  // lectures not sent
      course(2012, {}),                                       // a year without classes
  };
  service.refreshCourse("110000", data, 7);

  auto stored = service.getCourseFromLocalDB(7, "110000");
  ASSERT_EQ(stored.size(), 3u);
  EXPECT_EQ(stored[0]->year(), 2014);
  EXPECT_EQ(stored[1]->year(), 2013);
  EXPECT_EQ(stored[2]->year(), 2012);

  ASSERT_EQ(stored[0]->reClasses()->size(), 1u);
  const ReClass& y2014 = *(*stored[0]->reClasses())[0];
  EXPECT_EQ(y2014.reClassId(), 2);
  EXPECT_EQ(y2014.type(), "2");
  EXPECT_EQ(y2014.year(), "2014");
  ASSERT_TRUE(y2014.cws());  // empty, not absent
  EXPECT_TRUE(y2014.cws()->empty());

  const ReClass& y2013 = *(*stored[1]->reClasses())[0];
  EXPECT_EQ(y2013.reClassName(), "class 1");
  EXPECT_EQ(y2013.typeName(), "专业");
  EXPECT_EQ(y2013.teacherName(), "王老师");
  EXPECT_EQ(y2013.cwNum(), 2);
  EXPECT_EQ(y2013.totalMins(), 100);
  EXPECT_EQ(y2013.listenedMins(), 40);
  ASSERT_EQ(y2013.cws()->size(), 2u);
  const CourseWare& first = *(*y2013.cws())[0];
  EXPECT_EQ(first.cwId(), 11);
  EXPECT_EQ(first.name(), "一");
  EXPECT_EQ(first.url(), "http://web/11.htm");
  EXPECT_EQ(first.videoUrl(), "http://video/11.m3u8");
  EXPECT_EQ(first.totalMins(), 40);
  EXPECT_EQ(first.listenedMins(), 10);
  EXPECT_FALSE(first.reclassId());

  ASSERT_TRUE(stored[2]->reClasses());
  EXPECT_TRUE(stored[2]->reClasses()->empty());

  // Every operation left its result sets closed.
  EXPECT_FALSE(service.modelDaol()->db()->hasOpenResultSets());
}

TEST_F(CourseStoreTest, RefreshForAnotherRegionKeepsOnlyTheOldClasses) {
  DBService service;
  service.refreshCourse(
      "110000",
      {course(2013, {reclass(1, "2013", "1", model::List<CourseWare>{lecture(11, "一", 40, 0)})})},
      7);
  service.refreshCourse(
      "310000",
      {course(2014, {reclass(2, "2014", "1", model::List<CourseWare>{lecture(21, "二", 40, 0)})})},
      7);
  RawDb raw;
  EXPECT_EQ(raw.rows("select reclassId,areacode from reclass order by reclassId"),
            (std::vector<std::vector<std::string>>{{"1", "110000"}, {"2", "310000"}}));
  EXPECT_EQ(raw.rows("select years from year"), (std::vector<std::vector<std::string>>{{"2014"}}));
  EXPECT_EQ(raw.rows("select cwID from courseware"),
            (std::vector<std::vector<std::string>>{{"21"}}));
  // Loading region A finds the user's one year row (2014) but no class of A in it.
  auto stored = service.getCourseFromLocalDB(7, "110000");
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0]->year(), 2014);
  EXPECT_TRUE(stored[0]->reClasses()->empty());
}

TEST_F(CourseStoreTest, RowsCarryTheLoggedInUserAndStoringTwiceDoubles) {
  ModelDao dao;
  auto y2013 =
      course(2013, {reclass(1, "2013", "1", model::List<CourseWare>{lecture(11, "一", 40, 0)})});
  GlobalModel::sharedModel()->setUserId(9);
  dao.insertReClass(*y2013, "110000");
  dao.insertReClass(*y2013, "110000");
  RawDb raw;
  EXPECT_EQ(raw.rows("select distinct userid from reclass"),
            (std::vector<std::vector<std::string>>{{"9"}}));
  EXPECT_EQ(raw.value("select count(*) from courseware where userid=9 and areacode='110000' and "
                      "year='2013'"),
            "2");
  auto stored = dao.getAllCousre(9, "110000");
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[0]->year(), 2013);
  EXPECT_EQ(stored[1]->year(), 2013);
  EXPECT_TRUE(dao.exists(9, "2013", "110000"));
  EXPECT_FALSE(dao.exists(9, "2014", "110000"));
}

TEST_F(CourseStoreTest, AYearRowAloneGivesACourseWithoutClasses) {
  ModelDao dao;
  dao.insertYear(7, "2015");
  dao.insertYear(7, 2013);  // a number and a text land in the same column alike
  dao.insertYear(8, "2016");
  auto stored = dao.getAllCousre(7, "110000");
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[0]->year(), 2015);
  EXPECT_EQ(stored[1]->year(), 2013);
  ASSERT_TRUE(stored[0]->reClasses());
  EXPECT_TRUE(stored[0]->reClasses()->empty());
  EXPECT_FALSE(dao.exists(7, "2015", "110000"));  // a year is no class

  dao.delYearAll(7);
  EXPECT_TRUE(dao.getAllCousre(7, "110000").empty());
  EXPECT_EQ(dao.getAllCousre(8, "110000").size(), 1u);
  EXPECT_FALSE(dao.db()->hasOpenResultSets());
}

TEST_F(CourseStoreTest, LectureLookups) {
  DBService service;
  service.refreshCourse(
      "110000",
      {course(2014, {reclass(1, "2014", "1",
                             model::List<CourseWare>{lecture(11, "一", 40, 10),
                                                     lecture(12, "二", 30, 5)})}),
       course(2013, {reclass(2, "2013", "1", model::List<CourseWare>{lecture(21, "三", 20, 0)})})},
      7);
  CourseWareDao cws;
  auto infos = cws.queryCwInfosByUserId(7, 2014);
  ASSERT_EQ(infos.size(), 2u);
  EXPECT_EQ(infos[11]["cwName"], platform::Value("一"));
  EXPECT_EQ(infos[11]["listenedMinutes"], platform::Value(10));
  EXPECT_EQ(infos[12]["totalMinutes"], platform::Value(30));
  EXPECT_EQ(cws.queryCwInfosByUserId(7).size(), 3u);
  EXPECT_TRUE(cws.queryCwInfosByUserId(8, 2014).empty());

  auto one = cws.queryCwByUserId(7, "110000", 2014, 1, 12);
  ASSERT_TRUE(one);
  EXPECT_EQ(one->cwId(), 12);
  EXPECT_EQ(one->reclassId(), 1);
  EXPECT_EQ(one->name(), "二");
  EXPECT_EQ(one->videoUrl(), "http://video/12.m3u8");
  EXPECT_EQ(one->listenedMins(), 5);
  EXPECT_FALSE(cws.queryCwByUserId(7, "110000", 2013, 1, 12));
  EXPECT_EQ(cws.queryCwByUserId(7, "110000", 2014, 1).size(), 2u);
  EXPECT_EQ(cws.queryAllNames().at(21), "三");
  EXPECT_FALSE(cws.db()->hasOpenResultSets());

  auto holding = service.modelDaol()->getCousre(7, 12, "2014", "110000");
  EXPECT_EQ(holding->year(), 2014);
  ASSERT_EQ(holding->reClasses()->size(), 1u);
  const ReClass& rc = *(*holding->reClasses())[0];
  EXPECT_EQ(rc.reClassId(), 1);
  EXPECT_EQ(rc.teacherName(), "王老师");
  ASSERT_EQ(rc.cws()->size(), 1u);
  EXPECT_EQ((*rc.cws())[0]->name(), "二");
  EXPECT_EQ((*rc.cws())[0]->totalMins(), 30);
  EXPECT_TRUE(service.modelDaol()->getCousre(7, 12, "2013", "110000")->reClasses()->empty());
}

TEST_F(CourseStoreTest, LectureTypesComeFromTheCourseTreeInMemory) {
  ReClassDao dao;
  EXPECT_TRUE(dao.getAllCwType().empty());
  auto noId = lecture(0, "x", 1, 0);
  noId->setCwId(std::nullopt);
  GlobalModel::sharedModel()->setCourses(model::List<Course>{
      course(2014, {reclass(1, "2014", "1", model::List<CourseWare>{lecture(11, "a", 1, 0), noId}),
                    reclass(2, "2014", "3", model::List<CourseWare>{lecture(11, "a", 1, 0)}),
                    reclass(3, "2014", "", std::nullopt)}),
      course(2013, {reclass(4, "2013", "2", model::List<CourseWare>{lecture(41, "b", 1, 0)})})});
  auto typeless = reclass(5, "2013", "", model::List<CourseWare>{lecture(51, "c", 1, 0)});
  typeless->setType(std::nullopt);
  (*GlobalModel::sharedModel()->courses())[1]->reClasses()->push_back(typeless);

  auto types = dao.getAllCwType();
  EXPECT_EQ(types, (std::map<std::int64_t, std::string>{{11, "3"}, {41, "2"}}));
}

TEST_F(CourseStoreTest, ClassQueriesOverTheStoredRows) {
  DBService service;
  service.refreshCourse(
      "110000",
      {course(2014, {reclass(1, "2014", "5", model::List<CourseWare>{lecture(11, "a", 1, 0)})}),
       course(2013, {reclass(2, "2013", "6", model::List<CourseWare>{lecture(21, "b", 1, 0)})})},
      7);
  ReClassDao dao;
  EXPECT_EQ(dao.queryAllTypes(), (std::map<std::int64_t, std::string>{{11, "5"}, {21, "6"}}));
  EXPECT_EQ(dao.queryAllNames().size(), 2u);
  auto byId = dao.queryById(2);
  ASSERT_EQ(byId.size(), 1u);
  EXPECT_EQ(byId[0]->year(), "2013");
  EXPECT_EQ(byId[0]->totalMins(), 100);
  auto times = dao.queryStudyTimes(7, "110000");
  EXPECT_EQ(times["year"], platform::Value("2014"));  // the last group wins
  EXPECT_EQ(times["sum(listenedMinutes)"], platform::Value("40"));
  EXPECT_EQ(dao.queryProgress(7, "110000").size(), 2u);

  EXPECT_TRUE(dao.updateListenedTimes(7, 1, 11, 25));
  RawDb raw;
  EXPECT_EQ(raw.value("select listenedMinutes from courseware where cwID=11"), "1");
  EXPECT_FALSE(dao.db()->hasOpenResultSets());
}

}  // namespace
