#include <gtest/gtest.h>

#include "dao/DBService.h"
#include "dao/DownloadDao.h"
#include "model/GlobalModel.h"
#include "support/TempHome.h"

namespace {

std::shared_ptr<CourseWare> lecture(int id) {
  auto cw = std::make_shared<CourseWare>();
  cw->setCwId(id);
  cw->setName("lecture " + std::to_string(id));
  cw->setUrl("http://web/" + std::to_string(id) + ".htm");
  cw->setVideoUrl("http://video/" + std::to_string(id) + ".m3u8");
  cw->setTotalMins(40);
  cw->setListenedMins(4);
  return cw;
}

std::shared_ptr<Course> course(int year, int reclassId, std::vector<int> lectures) {
  auto rc = std::make_shared<ReClass>();
  rc->setReClassId(reclassId);
  rc->setReClassName("class " + std::to_string(reclassId));
  rc->setType("1");
  rc->setTotalMins(100);
  rc->setListenedMins(30);
  rc->setCwNum(static_cast<int>(lectures.size()));
  rc->setYear(std::to_string(year));
  model::List<CourseWare> cws;
  for (int id : lectures) cws.push_back(lecture(id));
  rc->setCws(cws);
  auto c = std::make_shared<Course>();
  c->setYear(year);
  c->setReClasses(model::List<ReClass>{rc});
  return c;
}

DownloadInfo row(int userId, int year, int reclassId, int cwid, int state) {
  DownloadInfo d;
  d.setUserId(userId);
  d.setYear(year);
  d.setReclassId(reclassId);
  d.setCwid(cwid);
  d.setState(state);
  d.setAreacode("110000");
  return d;
}

// Lecture ids per year and class of a download tree, for compact comparisons.
std::vector<std::string> shape(const model::List<Course>& tree) {
  std::vector<std::string> out;
  for (const auto& c : tree) {
    for (const auto& rc : *c->reClasses()) {
      std::string line = std::to_string(*c->year()) + "/" + std::to_string(*rc->reClassId()) + ":";
      for (const auto& cw : *rc->cws()) line += " " + std::to_string(*cw->cwId());
      out.push_back(line);
    }
    if (c->reClasses()->empty()) out.push_back(std::to_string(*c->year()) + "/-");
  }
  return out;
}

class DownloadStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto model = GlobalModel::sharedModel();
    model->setAreaCode("110000");
    storeCoursesOf(7, {course(2014, 1, {11, 12}), course(2013, 2, {21})});
  }
  void TearDown() override {
    GlobalModel::sharedModel()->setUserId(0);
    GlobalModel::sharedModel()->setAreaCode(std::nullopt);
  }
  void storeCoursesOf(int userId, const model::List<Course>& courses) {
    GlobalModel::sharedModel()->setUserId(userId);
    service_->refreshCourse("110000", courses, userId);
  }

  testsupport::TempHome home_;
  std::unique_ptr<DBService> service_ = std::make_unique<DBService>();
  DownloadDao downloads_;
};

TEST_F(DownloadStoreTest, RowsAndStates) {
  EXPECT_FALSE(downloads_.exists(7, 11, 2014, "110000"));
  EXPECT_TRUE(downloads_.insert(row(7, 2014, 1, 11, DownloadDao::kStateQueued)));
  EXPECT_TRUE(downloads_.exists(7, 11, 2014, "110000"));
  EXPECT_FALSE(downloads_.exists(7, 11, 2014, "310000"));
  EXPECT_FALSE(downloads_.queryByState(7, 11, 1, "110000", 2014));

  downloads_.update(7, 11, DownloadDao::kStateFinished, "110000", 2014);
  EXPECT_TRUE(downloads_.queryByState(7, 11, 1, "110000", 2014));
  auto finished = downloads_.queryArrayByState(7, 1, 1, "110000", 2014);
  ASSERT_EQ(finished.size(), 1u);
  EXPECT_EQ(finished[0]->cwid(), 11);
  EXPECT_EQ(finished[0]->reclassId(), 1);
  EXPECT_EQ(finished[0]->year(), 2014);
  EXPECT_EQ(finished[0]->state(), 1);
  EXPECT_FALSE(finished[0]->areacode());

  EXPECT_TRUE(downloads_.del(7, 1, 11, "110000", 2014));
  EXPECT_TRUE(downloads_.del(7, 1, 11, "110000", 2014));  // nothing left: still ran
  EXPECT_FALSE(downloads_.exists(7, 11, 2014, "110000"));
  EXPECT_FALSE(downloads_.db()->hasOpenResultSets());
}

TEST_F(DownloadStoreTest, OfflineTreeHoldsOnlyFinishedLectures) {
  downloads_.insert(row(7, 2014, 1, 11, 1));
  downloads_.insert(row(7, 2014, 1, 12, 0));
  downloads_.insert(row(7, 2013, 2, 21, 0));  // a year with only an unfinished lecture

  EXPECT_EQ(shape(service_->getLoaclDownloadInfo(7, true)),
            (std::vector<std::string>{"2014/1: 11 12", "2013/2: 21"}));
  EXPECT_EQ(shape(service_->getLoaclDownloadInfo(7, false)),
            (std::vector<std::string>{"2014/1: 11"}));

  auto tree = service_->getLoaclDownloadInfo(7, true);
  const ReClass& rc = *(*tree[0]->reClasses())[0];
  EXPECT_EQ(rc.year(), "2014");
  EXPECT_EQ(rc.reClassName(), "class 1");
  EXPECT_EQ(rc.totalMins(), 100);
  EXPECT_EQ(rc.listenedMins(), 30);
  EXPECT_EQ(rc.cwNum(), 2);
  const CourseWare& cw = *(*rc.cws())[0];
  EXPECT_EQ(cw.name(), "lecture 11");
  EXPECT_EQ(cw.videoUrl(), "http://video/11.m3u8");
  EXPECT_EQ(cw.totalMins(), 40);
  EXPECT_FALSE(service_->modelDaol()->db()->hasOpenResultSets());
}

TEST_F(DownloadStoreTest, LectureRemovedByARefreshLeavesItsClassEmpty) {
  downloads_.insert(row(7, 2014, 1, 11, 1));
  // The next course fetch no longer lists lecture 11.
  storeCoursesOf(7, {course(2014, 1, {12}), course(2013, 2, {21})});
  EXPECT_EQ(shape(service_->getLoaclDownloadInfo(7, false)), (std::vector<std::string>{"2014/1:"}));
}

// Two users of one device who take the same class: each sees the class once, with their own
// downloads only.
TEST_F(DownloadStoreTest, SecondUserOnTheDeviceDoesNotDuplicateClasses) {
  storeCoursesOf(8, {course(2014, 1, {11, 12})});
  downloads_.insert(row(7, 2014, 1, 11, 1));
  downloads_.insert(row(8, 2014, 1, 12, 1));

  EXPECT_EQ(shape(service_->getLoaclDownloadInfo(7, false)),
            (std::vector<std::string>{"2014/1: 11"}));
  EXPECT_EQ(shape(service_->getLoaclDownloadInfo(8, false)),
            (std::vector<std::string>{"2014/1: 12"}));
}

}  // namespace
