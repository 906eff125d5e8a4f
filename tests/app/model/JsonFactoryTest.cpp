#include <gtest/gtest.h>

#include "model/Area.h"
#include "model/Course.h"
#include "model/StudyLog.h"
#include "platform/foundation/Json.h"

namespace {

TEST(AreaJsonTest, BuildsTwoLevelsAndNoParents) {
  auto areas = Area::jsonToObject(R"({"areas":[
    {"areaName":"北京","areaCode":"110000","isLeaf":0,"loginType":2,"description":"d",
     "children":[{"areaName":"海淀","areaCode":"110108","isLeaf":1,"loginType":3,
                  "children":[{"areaName":"deep","areaCode":"1"}]},
                 {"areaName":"朝阳","areaCode":110105,"isLeaf":false,"loginType":"4",
                  "children":[{"areaName":"deep","areaCode":"2"}]}]},
    {"areaName":"上海","areaCode":"310000","isLeaf":true,"loginType":1,
     "children":[{"areaName":"ignored"}]},
    {"areaName":"天津","areaCode":"120000","isLeaf":0}]})");
  ASSERT_EQ(areas.size(), 3u);

  const Area& beijing = *areas[0];
  EXPECT_EQ(beijing.name(), "北京");
  EXPECT_EQ(beijing.code(), "110000");
  EXPECT_FALSE(beijing.isLeaf());
  EXPECT_EQ(beijing.loginType(), 2);
  EXPECT_EQ(beijing.description(), "d");
  EXPECT_FALSE(beijing.parent());
  ASSERT_TRUE(beijing.childArray());
  ASSERT_EQ(beijing.childArray()->size(), 2u);
  const Area& haidian = *(*beijing.childArray())[0];
  EXPECT_EQ(haidian.code(), "110108");
  EXPECT_TRUE(haidian.isLeaf());
  EXPECT_FALSE(haidian.parent());
  EXPECT_FALSE(haidian.childArray());
  // A non-leaf child still gets no children of its own: two levels at most.
  const Area& chaoyang = *(*beijing.childArray())[1];
  EXPECT_FALSE(chaoyang.isLeaf());
  EXPECT_FALSE(chaoyang.childArray());
  EXPECT_EQ(chaoyang.code(), "110105");  // a number given for a code reads as its text
  EXPECT_EQ(chaoyang.loginType(), 4);    // a text given for a number reads as its integer

  // A leaf gets no child list even when "children" is present.
  EXPECT_TRUE(areas[1]->isLeaf());
  EXPECT_FALSE(areas[1]->childArray());
  // A non-leaf without "children" gets an empty list, not an absent one.
  ASSERT_TRUE(areas[2]->childArray());
  EXPECT_TRUE(areas[2]->childArray()->empty());
  EXPECT_FALSE(areas[2]->loginType());
  EXPECT_FALSE(areas[2]->description());
}

TEST(AreaJsonTest, UnusableAnswersGiveAnEmptyList) {
  const char* cases[] = {
      "",
      "not json",
      "[1,2]",
      R"({"areas":"text"})",
      R"({"areas":{"a":1}})",
      R"({"other":[]})",
      R"({"areas":[])",
      "null",
  };
  for (const char* text : cases) EXPECT_TRUE(Area::jsonToObject(text).empty()) << text;
}

TEST(AreaJsonTest, WrongTypedMembersReadAsAbsent) {
  auto areas = Area::jsonToObject(R"({"areas":[
    {"areaName":["x"],"areaCode":{"a":1},"isLeaf":[1],"loginType":[],"description":null,
     "children":"none"},
    7,
    {"isLeaf":0,"children":[3,"x",null]}]})");
  ASSERT_EQ(areas.size(), 3u);
  EXPECT_FALSE(areas[0]->name());
  EXPECT_FALSE(areas[0]->code());
  EXPECT_FALSE(areas[0]->loginType());
  EXPECT_FALSE(areas[0]->description());
  EXPECT_FALSE(areas[0]->isLeaf());
  ASSERT_TRUE(areas[0]->childArray());
  EXPECT_TRUE(areas[0]->childArray()->empty());
  // An entry that is not an object becomes an empty node.
  EXPECT_FALSE(areas[1]->name());
  ASSERT_TRUE(areas[2]->childArray());
  ASSERT_EQ(areas[2]->childArray()->size(), 3u);
  EXPECT_FALSE((*areas[2]->childArray())[0]->code());
}

// A region answer is walked as a document: one nested beyond the bound of outside JSON is
// undecodable as a whole, like text that is not JSON.
TEST(AreaJsonTest, AnswersNestedBeyondTheBoundGiveAnEmptyList) {
  std::string deep = std::string(100000, '[') + std::string(100000, ']');
  EXPECT_TRUE(Area::jsonToObject(R"({"areas":[{"areaName":"x","areaCode":"1","isLeaf":0,
                                               "children":)" +
                                 deep + "}]}")
                  .empty());
  EXPECT_TRUE(Area::jsonToObject(R"({"areas":)" + deep + "}").empty());
}

// Numbers outside the signed 64-bit range read as absent, as any member of the wrong type does:
// wrapped, the largest unsigned id would name user -1, a saturated one some other record.
TEST(ModelJsonTest, NumbersOutOfRangeReadAsAbsent) {
  auto log = StudyLog::jsonToObject(
      R"({"userId":18446744073709551615,"logs":[{"year":1e19,"cws":[{"Id":-1e300,"type":2}]}]})");
  EXPECT_FALSE(log->userId());
  ASSERT_TRUE(log->logs());
  const ListenLog& year = *(*log->logs())[0];
  EXPECT_FALSE(year.year());
  EXPECT_FALSE((*year.cwsLog())[0]->Id());
  EXPECT_EQ((*year.cwsLog())[0]->type(), 2);

  auto areas = Area::jsonToObject(
      R"({"areas":[{"areaCode":18446744073709551615,"loginType":9223372036854775808,"isLeaf":1}]})");
  ASSERT_EQ(areas.size(), 1u);
  EXPECT_FALSE(areas[0]->loginType());
  // As a text the code is still the number the server sent.
  EXPECT_EQ(areas[0]->code(), "18446744073709551615");

  auto answer = nlohmann::json::parse(R"([{"year":2014,"reclasses":[
    {"reclassId":9223372036854775807,"cwNum":1e30,
     "cws":[{"cwId":18446744073709551615,"totalMinutes":-9223372036854775808}]}]}])");
  auto courses = Course::jsonToObject(&answer);
  const ReClass& reClass = *(*courses[0]->reClasses())[0];
  EXPECT_EQ(reClass.reClassId(), INT64_MAX);
  EXPECT_FALSE(reClass.cwNum());
  const CourseWare& lecture = *(*reClass.cws())[0];
  EXPECT_FALSE(lecture.cwId());
  EXPECT_EQ(lecture.totalMins(), INT64_MIN);
}

TEST(CourseJsonTest, BuildsTheTreeWithTheCourseYearOnEveryClass) {
  auto answer = nlohmann::json::parse(R"({"courses":[
    {"year":2014,"reclasses":[
      {"reclassId":7,"reclassName":"税法","type":"2","typeName":"专业","teacherName":"王",
       "cwNum":"3","cwTotalMinutes":120,"listenedMinutes":40.0,"picUrl":"http://p/x.png",
       "year":1999,
       "cws":[{"cwId":"71","cwName":"第一讲","cwUrl":"http://h/1.htm",
               "cwVideoUrl":"http://v/1.m3u8","totalMinutes":40,"listenedMinutes":10}]},
      {"reclassId":8,"cws":[]},
      {"reclassId":9}]},
    {"year":"2013"},
    {"year":2012,"reclasses":[]}]})");
  auto courses = Course::jsonToObject(platform::Json::member(answer, "courses"));
  ASSERT_EQ(courses.size(), 3u);

  const Course& y2014 = *courses[0];
  EXPECT_EQ(y2014.year(), 2014);
  ASSERT_TRUE(y2014.reClasses());
  ASSERT_EQ(y2014.reClasses()->size(), 3u);
  const ReClass& tax = *(*y2014.reClasses())[0];
  EXPECT_EQ(tax.reClassId(), 7);
  EXPECT_EQ(tax.reClassName(), "税法");
  EXPECT_EQ(tax.type(), "2");
  EXPECT_EQ(tax.typeName(), "专业");
  EXPECT_EQ(tax.teacherName(), "王");
  EXPECT_EQ(tax.cwNum(), 3);
  EXPECT_EQ(tax.totalMins(), 120);
  EXPECT_EQ(tax.listenedMins(), 40);
  EXPECT_EQ(tax.picUrl(), "http://p/x.png");
  EXPECT_EQ(tax.year(), "2014");
  ASSERT_TRUE(tax.cws());
  ASSERT_EQ(tax.cws()->size(), 1u);
  const CourseWare& lecture = *(*tax.cws())[0];
  EXPECT_EQ(lecture.cwId(), 71);
  EXPECT_EQ(lecture.name(), "第一讲");
  EXPECT_EQ(lecture.url(), "http://h/1.htm");
  EXPECT_EQ(lecture.videoUrl(), "http://v/1.m3u8");
  EXPECT_EQ(lecture.totalMins(), 40);
  EXPECT_EQ(lecture.listenedMins(), 10);
  EXPECT_FALSE(lecture.reclassId());

  // An empty or missing lecture list stays absent.
  EXPECT_FALSE((*y2014.reClasses())[1]->cws());
  EXPECT_FALSE((*y2014.reClasses())[2]->cws());
  EXPECT_EQ((*y2014.reClasses())[2]->year(), "2014");

  // A course without classes has an empty class list.
  EXPECT_EQ(courses[1]->year(), 2013);
  ASSERT_TRUE(courses[1]->reClasses());
  EXPECT_TRUE(courses[1]->reClasses()->empty());
  ASSERT_TRUE(courses[2]->reClasses());
  EXPECT_TRUE(courses[2]->reClasses()->empty());
}

TEST(CourseJsonTest, AbsentOrWrongTypedValuesNeverCrash) {
  EXPECT_TRUE(Course::jsonToObject(nullptr).empty());
  const char* cases[] = {"null", "{}", "\"courses\"", "12", "[]"};
  for (const char* text : cases) {
    auto value = nlohmann::json::parse(text);
    EXPECT_TRUE(Course::jsonToObject(&value).empty()) << text;
  }

  auto odd = nlohmann::json::parse(R"([
    {"year":[2014],"reclasses":{"reclassId":1}},
    {"year":2015,"reclasses":[{"reclassId":{"x":1},"reclassName":7,"cwNum":null,
                               "cws":[{"cwId":[1],"cwName":false}]}, 5]},
    "text"])");
  auto courses = Course::jsonToObject(&odd);
  ASSERT_EQ(courses.size(), 3u);
  EXPECT_FALSE(courses[0]->year());
  ASSERT_TRUE(courses[0]->reClasses());
  EXPECT_TRUE(courses[0]->reClasses()->empty());
  ASSERT_EQ(courses[1]->reClasses()->size(), 2u);
  const ReClass& c = *(*courses[1]->reClasses())[0];
  EXPECT_FALSE(c.reClassId());
  EXPECT_EQ(c.reClassName(), "7");
  EXPECT_FALSE(c.cwNum());
  ASSERT_TRUE(c.cws());
  EXPECT_FALSE((*c.cws())[0]->cwId());
  EXPECT_EQ((*c.cws())[0]->name(), "0");
  EXPECT_EQ((*courses[1]->reClasses())[1]->year(), "2015");
  EXPECT_FALSE(courses[2]->year());
}

TEST(StudyLogJsonTest, ReadsTheNestedDocument) {
  auto log = StudyLog::jsonToObject(R"({"userId":"12","logs":[
    {"year":2014,"cws":[{"Id":5,"createdTime":"2014-01-01 10:00:00",
                         "lastUpdateTime":"2014-01-02 10:00:00","listenedMinutes":3,"type":1}]},
    {"year":2013}]})");
  EXPECT_EQ(log->userId(), 12);
  ASSERT_TRUE(log->logs());
  ASSERT_EQ(log->logs()->size(), 2u);
  const ListenLog& y2014 = *(*log->logs())[0];
  EXPECT_EQ(y2014.year(), 2014);
  ASSERT_EQ(y2014.cwsLog()->size(), 1u);
  const CourseWareLog& entry = *(*y2014.cwsLog())[0];
  EXPECT_EQ(entry.Id(), 5);
  EXPECT_EQ(entry.createTime(), "2014-01-01 10:00:00");
  EXPECT_EQ(entry.lastUpdateTime(), "2014-01-02 10:00:00");
  EXPECT_EQ(entry.listenedMins(), 3);
  EXPECT_EQ(entry.type(), 1);
  EXPECT_FALSE(entry.logId());
  EXPECT_FALSE(entry.sync());

  auto broken = StudyLog::jsonToObject("{oops");
  EXPECT_FALSE(broken->userId());
}

}  // namespace
