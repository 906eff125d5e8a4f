#include <gtest/gtest.h>

#include "dao/RawDb.h"
#include "dao/StudyLogDao.h"
#include "model/GlobalModel.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/DateFormat.h"
#include "support/TempHome.h"

namespace {

using platform::Dictionary;
using platform::Value;

// The player's time stamps: the clock's time in the store's date pattern.
std::string nowText() {
  return platform::formatDate(platform::Clock::shared()->now(), platform::kDateTimePattern);
}

class StudyLogStoreTest : public ::testing::Test {
 protected:
  void TearDown() override { GlobalModel::sharedModel()->setCourses(std::nullopt); }

  // What the player writes for a first 10-second step.
  static Dictionary firstStep(int userId, const std::string& year, int reclassId, int cwId) {
    std::string now = nowText();
    return {{"userid", userId},   {"year", year},          {"reclassid", reclassId}, {"cwid", cwId},
            {"createdTime", now}, {"lastUpdateTime", now}, {"listenedPos", "10"}};
  }
  static Dictionary nextStep(int userId, const std::string& year, int reclassId, int cwId) {
    return {{"userid", userId},
            {"year", year},
            {"reclassid", reclassId},
            {"cwid", cwId},
            {"lastUpdateTime", nowText()},
            {"logTime", 10}};
  }

  testsupport::TempHome home_;
  platform::ScopedManualClock clock_;
};

TEST_F(StudyLogStoreTest, StepsGrowOneRowPerLecture) {
  StudyLogDao dao;
  EXPECT_FALSE(dao.exists(7, "2014", 1, 11));
  EXPECT_TRUE(dao.insert(firstStep(7, "2014", 1, 11)));
  EXPECT_TRUE(dao.exists(7, "2014", 1, 11));
  std::string created = nowText();

  // A second insert for the same lecture writes nothing; the player then updates.
  clock_->advanceSeconds(10);
  EXPECT_FALSE(dao.insert(firstStep(7, "2014", 1, 11)));
  EXPECT_TRUE(dao.update(nextStep(7, "2014", 1, 11)));
  EXPECT_TRUE(dao.update(nextStep(7, "2014", 1, 11)));
  // An update that matches no row still reports that the statement ran.
  EXPECT_TRUE(dao.update(nextStep(7, "2014", 1, 99)));

  daotest::RawDb raw;
  EXPECT_EQ(raw.rows("select listenedPos,createdTime,lastUpdateTime from studylog"),
            (std::vector<std::vector<std::string>>{{"30", created, nowText()}}));

  Dictionary expected{{"cwId", "11"}, {"listenedpos", "30"}};
  EXPECT_EQ(dao.getByReClassId("1", 7, "11", 2014), expected);
  EXPECT_EQ(dao.getByUserId(7, 11, 2014), expected);
  EXPECT_TRUE(dao.getByReClassId("2", 7, "11", 2014).empty());
  EXPECT_TRUE(dao.getByUserId(7, 11, 2013).empty());
  EXPECT_FALSE(dao.db()->hasOpenResultSets());
}

// A row marked for an upload takes no more steps: they go to a new row, and the lecture reads
// as the sum of both. Releasing the marked row hands what the server did not credit back to the
// unmarked one, so a lecture never has two unmarked rows.
TEST_F(StudyLogStoreTest, AMarkedRowTakesNoStepsAndIsReleasedIntoTheUnmarkedOne) {
  StudyLogDao dao;
  ASSERT_TRUE(dao.insert(firstStep(7, "2014", 1, 11)));
  ASSERT_TRUE(dao.update(nextStep(7, "2014", 1, 11)));  // 20 s
  ASSERT_TRUE(dao.insert(firstStep(7, "2014", 1, 12)));
  ASSERT_TRUE(dao.mark(7, "2014", 11, 5));
  EXPECT_FALSE(dao.exists(7, "2014", 1, 11));
  ASSERT_TRUE(dao.update(nextStep(7, "2014", 1, 11)));  // matches no unmarked row
  ASSERT_TRUE(dao.insert(firstStep(7, "2014", 1, 11)));
  ASSERT_TRUE(dao.update(nextStep(7, "2014", 1, 11)));  // the new row: 20 s

  daotest::RawDb raw;
  const char* rows = "select cwid,listenedPos,ifnull(sync,'-') from studylog order by id";
  EXPECT_EQ(raw.rows(rows), (std::vector<std::vector<std::string>>{
                                {"11", "20", "5"}, {"12", "10", "-"}, {"11", "20", "-"}}));
  EXPECT_EQ(dao.getByUserId(7, 11, 2014), (Dictionary{{"cwId", "11"}, {"listenedpos", "40"}}));
  auto marked = dao.getMarkedByUserId(7);
  ASSERT_EQ(marked.size(), 1u);
  EXPECT_EQ(*platform::find(marked[0], "sync")->asText(), "5");
  EXPECT_EQ(dao.usersWithMarkedRows(), std::vector<Value>{Value(7)});

  // 15 of its 20 seconds credited: 5 join the unmarked row, the marked row is gone.
  const Value markedId(*platform::find(marked[0], "id")->asText());
  ASSERT_TRUE(dao.release(markedId, 15));
  EXPECT_EQ(raw.rows(rows),
            (std::vector<std::vector<std::string>>{{"12", "10", "-"}, {"11", "25", "-"}}));
  // Released once is released: a second release of the same row takes nothing.
  ASSERT_TRUE(dao.release(markedId, 15));
  EXPECT_EQ(raw.rows(rows),
            (std::vector<std::vector<std::string>>{{"12", "10", "-"}, {"11", "25", "-"}}));

  // Without an unmarked row the released row simply loses its mark; rows at zero are deleted.
  ASSERT_TRUE(dao.mark(7, "2014", 11, 6));
  ASSERT_TRUE(dao.mark(7, "2014", 12, 6));
  marked = dao.getMarkedByUserId(7);
  ASSERT_EQ(marked.size(), 2u);
  ASSERT_TRUE(dao.release(Value(*platform::find(marked[0], "id")->asText()), 0));
  ASSERT_TRUE(dao.release(Value(*platform::find(marked[1], "id")->asText()), 60));
  EXPECT_EQ(raw.rows(rows), (std::vector<std::vector<std::string>>{{"12", "10", "-"}}));
  EXPECT_TRUE(dao.usersWithMarkedRows().empty());
  EXPECT_FALSE(dao.db()->hasOpenResultSets());
}

TEST_F(StudyLogStoreTest, UnmarkedRowsOfOneLectureAreFoldedIntoTheFirst) {
  StudyLogDao dao;
  daotest::RawDb raw;
  for (const char* seconds : {"10", "20", "30"}) {
    ASSERT_TRUE(dao.db()->executeUpdate(
        "insert into studylog (userid,year,reclassid,cwid,listenedPos) values (7,2014,1,11,?)",
        std::string(seconds)));
  }
  ASSERT_TRUE(dao.db()->executeUpdate(
      "insert into studylog (userid,year,reclassid,cwid,listenedPos) values (8,2014,1,11,5)"));
  ASSERT_TRUE(dao.mergeUnmarked(7));
  EXPECT_EQ(raw.rows("select userid,listenedPos from studylog order by id"),
            (std::vector<std::vector<std::string>>{{"7", "60"}, {"8", "5"}}));
}

TEST_F(StudyLogStoreTest, UploadRowsByYearAndDeleteAfterwards) {
  StudyLogDao dao;
  EXPECT_TRUE(dao.getByUserId(7).empty());
  EXPECT_EQ(dao.getUnSyncMins(7), (Dictionary{{"listenedpos", 0}}));

  std::string created = nowText();
  dao.insert(firstStep(7, "2014", 1, 11));
  dao.insert(firstStep(7, "2014", 1, 12));
  dao.insert(firstStep(7, "2013", 2, 21));
  dao.insert(firstStep(8, "2014", 1, 11));  // another user
  dao.update(nextStep(7, "2013", 2, 21));

  auto rows = dao.getByUserId(7);
  ASSERT_EQ(rows.size(), 2u);
  ASSERT_EQ(rows["2014"].size(), 2u);
  EXPECT_EQ(rows["2014"][0], (Dictionary{{"cwid", "11"},
                                         {"createdTime", created},
                                         {"lastUpdateTime", created},
                                         {"listenedPos", "10"},
                                         {"id", "1"}}));
  ASSERT_EQ(rows["2013"].size(), 1u);
  EXPECT_EQ(rows["2013"][0]["listenedPos"], Value("20"));
  EXPECT_EQ(dao.getUnSyncMins(7), (Dictionary{{"listenedpos", 40}}));
  EXPECT_EQ(dao.getStudyMinsByYear(7),
            (std::map<std::string, std::string>{{"2013", "20"}, {"2014", "20"}}));
  EXPECT_EQ(dao.getByYear(7), (std::vector<Dictionary>{{{"year", "2013"}, {"listenedpos", "20"}},
                                                       {{"year", "2014"}, {"listenedpos", "20"}}}));

  for (const auto& [year, entries] : rows) {
    for (const auto& entry : entries) EXPECT_TRUE(dao.deleteById(entry.at("id")));
  }
  EXPECT_TRUE(dao.getByUserId(7).empty());
  EXPECT_TRUE(dao.getByReClassId(1, 7, 11, 2014).empty());
  EXPECT_EQ(dao.getByUserId(8).size(), 1u);
  EXPECT_FALSE(dao.db()->hasOpenResultSets());
}

struct ClassMinutes {
  std::int64_t total;
  std::int64_t listened;
};
struct CourseSpec {
  std::int64_t year;
  std::vector<ClassMinutes> classes;
};
struct Summary {
  std::int64_t year, totalMins, unStudyMins, localMins;
};
struct SummaryCase {
  const char* name;
  std::vector<CourseSpec> courses;
  std::vector<std::pair<std::string, int>> localSeconds;  // year text, seconds of one row
  std::vector<Summary> expected;
};

TEST_F(StudyLogStoreTest, PerYearSummaryArithmetic) {
  const SummaryCase cases[] = {
      {"server minutes plus ten local minutes",
       {{2014, {{60, 30}, {40, 10}}}},
       {{"2014", 600}},
       {{2014, 50, 50, 10}}},
      {"no local rows", {{2014, {{100, 40}}}}, {}, {{2014, 40, 60, 0}}},
      {"119 seconds are one minute", {{2014, {{100, 40}}}}, {{"2014", 119}}, {{2014, 41, 59, 1}}},
      {"59 seconds are no minute", {{2014, {{100, 40}}}}, {{"2014", 59}}, {{2014, 40, 60, 0}}},
      {"rows of one year add up",
       {{2014, {{100, 0}}}},
       {{"2014", 50}, {"2014", 70}},
       {{2014, 2, 98, 2}}},
      {"not clamped below zero", {{2013, {{30, 30}}}}, {{"2013", 600}}, {{2013, 40, -10, 10}}},
      {"each course reads its own year",
       {{2014, {{100, 40}}}, {2013, {{10, 0}}}},
       {{"2013", 120}, {"2012", 6000}},
       {{2014, 40, 60, 0}, {2013, 2, 8, 2}}},
      {"same year twice: both get the later sums",
       {{2014, {{100, 40}}}, {2014, {{10, 5}}}},
       {},
       {{2014, 5, 5, 0}, {2014, 5, 5, 0}}},
      {"a course without classes", {{2015, {}}}, {{"2015", 60}}, {{2015, 1, -1, 1}}},
  };
  int userId = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ++userId;  // each case on a user of its own
    StudyLogDao dao;
    int cw = 0;
    for (const auto& [year, seconds] : c.localSeconds) {
      auto row = firstStep(userId, year, 1, ++cw);
      row["listenedPos"] = std::to_string(seconds);
      ASSERT_TRUE(dao.insert(row));
    }
    model::List<Course> courses;
    for (const auto& given : c.courses) {
      auto course = std::make_shared<Course>();
      course->setYear(given.year);
      model::List<ReClass> classes;
      for (const auto& m : given.classes) {
        auto rc = std::make_shared<ReClass>();
        rc->setTotalMins(m.total);
        rc->setListenedMins(m.listened);
        classes.push_back(rc);
      }
      course->setReClasses(classes);
      courses.push_back(course);
    }
    GlobalModel::sharedModel()->setCourses(courses);

    auto summaries = dao.getAllStudyLogByUserId(userId);
    ASSERT_EQ(summaries.size(), c.expected.size());
    for (size_t i = 0; i < summaries.size(); ++i) {
      EXPECT_EQ(summaries[i], (Dictionary{{"year", c.expected[i].year},
                                          {"totalMins", c.expected[i].totalMins},
                                          {"unStudyMins", c.expected[i].unStudyMins},
                                          {"localMins", c.expected[i].localMins},
                                          {"lastTime", "2013-12-13 13:21"}}))
          << i;
    }
  }
}

TEST_F(StudyLogStoreTest, NoCoursesInMemoryGiveNoSummaries) {
  StudyLogDao dao;
  dao.insert(firstStep(7, "2014", 1, 11));
  GlobalModel::sharedModel()->setCourses(std::nullopt);
  EXPECT_TRUE(dao.getAllStudyLogByUserId(7).empty());
  EXPECT_TRUE(dao.getYearStudyMins().empty());
}

TEST_F(StudyLogStoreTest, EmptySlotsInTheCourseTreeAreSkipped) {
  StudyLogDao dao;
  auto rc = std::make_shared<ReClass>();
  rc->setTotalMins(100);
  rc->setListenedMins(40);
  auto course = std::make_shared<Course>();
  course->setYear(2014);
  course->setReClasses(model::List<ReClass>{nullptr, rc, nullptr});
  GlobalModel::sharedModel()->setCourses(model::List<Course>{course});

  auto summaries = dao.getAllStudyLogByUserId(7);
  ASSERT_EQ(summaries.size(), 1u);
  EXPECT_EQ(summaries[0]["totalMins"].integerValue(), 40);
  EXPECT_EQ(summaries[0]["unStudyMins"].integerValue(), 60);
}

}  // namespace
