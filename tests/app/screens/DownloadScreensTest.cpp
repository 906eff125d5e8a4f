// The download row, the download list of a course (states from the download queue, progress and
// completion notices, edit mode and deletion) and the local courses tab.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "LectureTestSupport.h"
#include "dao/DownloadDao.h"
#include "download/DownloadNotifications.h"
#include "download/SIDownloadManager.h"
#include "model/DownloadInfo.h"
#include "model/GlobalModel.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Paths.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/UITestDriver.h"
#include "screens/common/ReclassCell.h"
#include "screens/local/DownListController.h"
#include "screens/local/DownLoadCell.h"
#include "screens/local/LocalCourseController.h"
#include "support/MainLoop.h"

namespace {

namespace fs = std::filesystem;
using platform::IndexPath;
using platform::UITestDriver;
using screentest::LectureTest;

TEST(DownLoadCellTest, EachStateShowsItsTextsAndKeepsOrEmptiesThePercentage) {
  struct Case {
    int state;
    const char* text;
    const char* percent;
  } cases[] = {
      {0, "等待下载", "( 45% )"}, {1, "完成", "( 45% )"}, {2, "已暂停", ""}, {3, "轻点重试", ""},
      {4, "正在下载", "( 45% )"}, {5, "已暂停", ""},      {6, "", ""},       {7, "旧", "( 45% )"}};
  for (const auto& c : cases) {
    auto cell = DownLoadCell::create(platform::TableViewCellStyle::Default, std::nullopt);
    EXPECT_EQ(cell->stateLab()->text(), "等待下载");
    EXPECT_EQ(cell->progressLab()->text(), "(0%)");
    cell->stateLab()->setText("旧");
    cell->progressLab()->setText("( 45% )");
    cell->setDonwloadState(c.state);
    EXPECT_EQ(cell->donwloadState(), c.state);
    EXPECT_EQ(cell->stateLab()->text(), c.text) << c.state;
    EXPECT_EQ(cell->progressLab()->text(), c.percent) << c.state;
  }
}

TEST(DownLoadCellTest, AMarkedRowOutsideEditModeShowsTheTickOnAClearBackground) {
  auto cell = DownLoadCell::create(platform::TableViewCellStyle::Default, std::nullopt);
  cell->setBackgroundView(platform::View::create(platform::Rect{0, 0, 320, 58}));
  EXPECT_EQ(cell->mSelectedIndicator()->frame().origin.y, 15);
  cell->changeMSelectedState();
  EXPECT_TRUE(cell->mSelected());
  cell->layoutIfNeeded();
  EXPECT_EQ(cell->mSelectedIndicator()->image()->name(), "checkbox_check_big");
  EXPECT_EQ(cell->backgroundView()->backgroundColor(), platform::Color::clearColor());
}

TEST(DownListFolders, OnlyPlainFolderNamesCanBeDeleted) {
  const std::pair<const char*, bool> cases[] = {
      {"110000_2014_9001", true}, {"..", false},  {".", false},   {"", false},
      {"../1235", false},         {"a/b", false}, {"a\\b", false}};
  for (const auto& [key, plain] : cases)
    EXPECT_EQ(DownListController::isPlainFolderName(key), plain) << key;
}

class DownloadScreensTest : public LectureTest {
 protected:
  void SetUp() override {
    LectureTest::SetUp();
    for (int i = 0; i < 3; ++i) {
      lecture(i)->setVideoUrl(server.mediaUrl("lecture1/index.m3u8"));
      lecture(i)->setUrl(server.mediaUrl("lecture1/notes.html"));
    }
    services->downloadManager()->setDownloadToPath(userFolder());
  }
  static std::string userFolder() { return platform::Paths::documents() + "/1234"; }
  static std::string keyOf(int cwId) { return "110000_2014_" + std::to_string(cwId); }
  void order(int cwId, int state) {
    DownloadInfo row;
    row.setUserId(1234);
    row.setCwid(cwId);
    row.setReclassId(kClassId);
    row.setYear(kYear);
    row.setState(state);
    row.setAreacode(std::string("110000"));
    services->downloadDao()->insert(row);
  }
  bool rowInState(int cwId, int state) {
    return services->downloadDao()->queryByState(
        platform::Value(1234), platform::Value(cwId), platform::Value(state),
        platform::Value(std::string("110000")), platform::Value(std::string("2014")));
  }
  void showList() {
    list = DownListController::create();
    list->setCurrReclass(course);
    auto year = (*GlobalModel::sharedModel()->courses())[0];
    list->setCurrentCourse(year);
    presenter->navigationController()->pushViewController(list, false);
    list->view();
  }
  std::shared_ptr<DownLoadCell> row(int index) {
    return std::dynamic_pointer_cast<DownLoadCell>(
        list->downListTable()->cellForRowAtIndexPath(IndexPath{0, index}));
  }
  void post(const char* name, const std::string& key, const char* progress = nullptr) {
    platform::Dictionary info{{"cwId", platform::Value(key)}};
    if (progress) info["progress"] = platform::Value(std::string(progress));
    platform::NotificationCenter::defaultCenter().post(name, platform::Value(), info);
  }
  // Starts the first lecture's download and holds it on its first segment.
  void holdRunning(int cwId) {
    server.holdAfter("/media/lecture1/0.ts", 10);
    services->downloadManager()->addDownlodTask(lecture(0), keyOf(cwId));
    ASSERT_TRUE(testsupport::runUntil([&] { return server.isHolding("/media/lecture1/0.ts"); }));
  }

  std::shared_ptr<DownListController> list;
};

TEST_F(DownloadScreensTest, RowsTakeTheirStateFromTheDownloadQueue) {
  for (int id : {kFirst, kSecond, kThird}) order(id, 0);
  holdRunning(kFirst);
  services->downloadManager()->addDownlodTask(lecture(1), keyOf(kSecond));
  services->downloadManager()->addDownlodTask(lecture(2), keyOf(kThird));
  services->downloadManager()->pauseDownload(keyOf(kThird));
  showList();
  EXPECT_EQ(list->downLingBtn()->titleForState(platform::ControlState::Normal), "下载中(3)");
  EXPECT_EQ(list->downLoadBtn()->titleForState(platform::ControlState::Normal), "已下载(0)");
  EXPECT_EQ(row(0)->stateLab()->text(), "正在下载");
  EXPECT_EQ(row(1)->stateLab()->text(), "等待下载");
  EXPECT_EQ(row(2)->stateLab()->text(), "已暂停");
  EXPECT_EQ(row(2)->donwloadState(), 2);

  // A tap on the paused row resumes it into the queue.
  UITestDriver::selectRow(list->downListTable(), IndexPath{0, 2});
  EXPECT_EQ(services->downloadManager()->isDownloading().count(keyOf(kThird)), 1u);
}

TEST_F(DownloadScreensTest, ProgressNoticesFillThePercentage) {
  order(kFirst, 0);
  showList();
  EXPECT_EQ(row(0)->donwloadState(), 5);
  const std::pair<const char*, const char*> cases[] = {
      {"0.570", "( 57% )"}, {"0.456", "( 45% )"}, {"0", "( 45% )"}};
  for (const auto& [progress, text] : cases) {
    post(kChangP, keyOf(kFirst), progress);
    EXPECT_EQ(row(0)->stateLab()->text(), "正在下载");
    EXPECT_EQ(row(0)->progressLab()->text(), text) << progress;
  }
  post(kCellNetworkError, keyOf(kFirst));
  EXPECT_EQ(row(0)->stateLab()->text(), "轻点重试");
  // A notice of another year changes nothing.
  post(kChangP, "110000_2013_9001", "0.9");
  EXPECT_EQ(row(0)->stateLab()->text(), "轻点重试");
}

TEST_F(DownloadScreensTest, AFinishMovesTheLectureToTheDownloadedList) {
  order(kFirst, 0);
  order(kSecond, 0);
  showList();
  post(kCellFinish, keyOf(kFirst));
  EXPECT_TRUE(rowInState(kFirst, 1));
  EXPECT_EQ(list->downLingBtn()->titleForState(platform::ControlState::Normal), "下载中(1)");
  EXPECT_EQ(list->downLoadBtn()->titleForState(platform::ControlState::Normal), "已下载(1)");
  UITestDriver::tap(list->downLoadBtn());
  EXPECT_TRUE(list->isDownLoaded());
  EXPECT_EQ(row(0)->nameLabel()->text(), "第1讲");
  EXPECT_TRUE(row(0)->stateLab()->isHidden());
}

TEST_F(DownloadScreensTest, AFinishWithNoListOnScreenIsRecordedToo) {
  order(kSecond, 0);
  post(kCellFinish, keyOf(kSecond));
  EXPECT_TRUE(rowInState(kSecond, 1));
}

TEST_F(DownloadScreensTest, ATapOnAFailedRowQueuesTheLectureAgain) {
  order(kFirst, 0);
  showList();
  post(kCellNetworkError, keyOf(kFirst));
  server.holdAfter("/media/lecture1/0.ts", 10);
  UITestDriver::selectRow(list->downListTable(), IndexPath{0, 0});
  EXPECT_EQ(services->downloadManager()->currentCwId(), keyOf(kFirst));
  EXPECT_EQ(row(0)->stateLab()->text(), "正在下载");
}

TEST_F(DownloadScreensTest, AFullDiskIsShownOnTheRowAndATapTriesAgain) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full to fill the disk with";
  order(kFirst, 0);
  showList();
  // The first segment's partial file leads to a device that is always full.
  const std::string partial =
      SIDownloadManager::tempFilePathFor(userFolder() + "/" + keyOf(kFirst) + "/0.ts");
  fs::create_directories(fs::path(partial).parent_path());
  fs::create_symlink("/dev/full", partial);
  services->downloadManager()->addDownlodTask(lecture(0), keyOf(kFirst));
  ASSERT_TRUE(testsupport::runUntil(
      [&] { return row(0)->stateLab()->text() == DownListController::kNoSpaceText; }));
  EXPECT_EQ(row(0)->donwloadState(), 3);
  EXPECT_FALSE(fs::is_symlink(partial));

  // Once there is room again, a tap fetches the lecture.
  UITestDriver::selectRow(list->downListTable(), IndexPath{0, 0});
  EXPECT_EQ(services->downloadManager()->currentCwId(), keyOf(kFirst));
  ASSERT_TRUE(testsupport::runUntil([&] { return rowInState(kFirst, 1); }));
}

TEST_F(DownloadScreensTest, AFullDiskAtTheNotesPageIsShownOnTheRowAndATapTriesAgain) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full to fill the disk with";
  order(kFirst, 0);
  showList();
  // The notes page is written beside its name first; that file leads to a full device.
  const std::string folder = userFolder() + "/" + keyOf(kFirst);
  const std::string writing = folder + "/leture.htm.part";
  fs::create_directories(folder);
  fs::create_symlink("/dev/full", writing);
  services->downloadManager()->addDownlodTask(lecture(0), keyOf(kFirst));
  // Until then the row may move to the downloaded list, where it is no row of this list.
  ASSERT_TRUE(testsupport::runUntil([&] {
    auto shown = row(0);
    return !shown || shown->stateLab()->text() == DownListController::kNoSpaceText;
  }));
  ASSERT_TRUE(row(0)) << "the lecture was taken as downloaded without its notes";
  EXPECT_EQ(row(0)->donwloadState(), 3);
  EXPECT_FALSE(fs::is_symlink(writing)) << "no part of the page is left behind";
  EXPECT_FALSE(fs::exists(folder + "/leture.htm"));
  EXPECT_FALSE(rowInState(kFirst, 1)) << "a lecture without its notes is not downloaded";
  EXPECT_TRUE(server.requestsTo("/media/lecture1/0.ts").empty());

  UITestDriver::selectRow(list->downListTable(), IndexPath{0, 0});
  ASSERT_TRUE(testsupport::runUntil([&] { return rowInState(kFirst, 1); }));
  EXPECT_TRUE(fs::exists(folder + "/leture.htm"));
}

TEST_F(DownloadScreensTest, DeletingTheRunningLectureStopsItThenRemovesItsFolder) {
  order(kFirst, 0);
  order(kSecond, 0);
  holdRunning(kFirst);
  services->downloadManager()->addDownlodTask(lecture(1), keyOf(kSecond));
  fs::create_directories(userFolder() + "/" + keyOf(kFirst));
  std::ofstream(userFolder() + "/" + keyOf(kFirst) + "/0.ts") << "partial";
  showList();

  UITestDriver::tap(list->editBtn());
  UITestDriver::tap(list->deleteBtn());
  EXPECT_EQ(platform::AlertView::topAlert()->message(), "请选择需要删除的课件！");
  UITestDriver::answerAlert(0);
  UITestDriver::selectRow(list->downListTable(), IndexPath{0, 0});
  EXPECT_EQ(list->deleteBtn()->titleForState(platform::ControlState::Normal), "删除(1)");
  UITestDriver::tap(list->deleteBtn());
  EXPECT_EQ(platform::AlertView::topAlert()->message(), "是否要删除选中的课程？");
  UITestDriver::answerAlert(1);

  EXPECT_FALSE(rowInState(kFirst, 0));
  EXPECT_TRUE(GlobalModel::sharedModel()->downloadRefresh());
  EXPECT_EQ(list->downloadingReclass()->cws()->size(), 1u);
  ASSERT_TRUE(testsupport::runUntil([&] {
    return services->downloadManager()->currentCwId() != keyOf(kFirst) &&
           !fs::exists(userFolder() + "/" + keyOf(kFirst));
  }));
  server.releaseHolds();
  EXPECT_EQ(services->downloadManager()->isDownloading().count(keyOf(kFirst)), 0u);
  EXPECT_EQ(services->downloadManager()->currentCwId(), keyOf(kSecond));
}

TEST_F(DownloadScreensTest, SelectAllMarksEveryRowThenClearsThem) {
  for (int id : {kFirst, kSecond, kThird}) order(id, 0);
  showList();
  UITestDriver::tap(list->editBtn());
  UITestDriver::selectRow(list->downListTable(), IndexPath{0, 1});
  UITestDriver::tap(list->selectAllBtn());
  EXPECT_EQ(list->selectedCount(), 3);
  UITestDriver::tap(list->selectAllBtn());
  EXPECT_EQ(list->selectedCount(), 0);
  UITestDriver::tap(list->cancleBtn());
  EXPECT_FALSE(list->editBtn()->isHidden());
}

TEST_F(DownloadScreensTest, OfflineOnlyTheDownloadedListExists) {
  GlobalModel::sharedModel()->setLoginState(GlobalModel::kLoginOffline);
  order(kFirst, 1);
  order(kSecond, 0);
  showList();
  EXPECT_FALSE(list->downLingBtn());
  EXPECT_TRUE(list->isDownLoaded());
  EXPECT_FALSE(list->downLoadBtn()->isEnabled());
  EXPECT_EQ(list->downListTable()->numberOfRowsInSection(0), 1);
}

TEST_F(DownloadScreensTest, ADownloadedCompleteLectureAsksBeforePlaying) {
  setCourses(kLectureMinutes, 29);
  order(kFirst, 1);
  order(kSecond, 1);
  showList();
  UITestDriver::tap(list->downLoadBtn());
  UITestDriver::selectRow(list->downListTable(), IndexPath{0, 0});
  EXPECT_EQ(platform::AlertView::topAlert()->tag(), DownListController::kTagCompleteQuestion);
  UITestDriver::answerAlert(0);
  UITestDriver::selectRow(list->downListTable(), IndexPath{0, 1});
  auto player = std::dynamic_pointer_cast<PlayVideoViewController>(
      presenter->navigationController()->presentedViewController());
  ASSERT_TRUE(player);
  EXPECT_EQ(player->cw()->cwId(), kSecond);
  EXPECT_EQ(player->enterIndex(), PlayVideoViewController::kEnterFromDownloadList);
}

TEST_F(DownloadScreensTest, DownloadListSnapshot) {
  for (int id : {kFirst, kSecond, kThird}) order(id, 0);
  showList();
  post(kChangP, keyOf(kFirst), "0.570");
  screentest::expectSnapshot(*window, "downloadlist");
}

// --- Local courses ---

TEST_F(DownloadScreensTest, LocalCoursesAddUnsentMinutesPerLectureUpToTheTotal) {
  struct Case {
    int first, second, shown;
  } cases[] = {{125, 250, 26}, {700, 800, 30}};
  for (const auto& c : cases) {
    setCourses(20);
    course->setTotalMins(30);
    course->setListenedMins(20);
    services->dbService()->refreshCourse(platform::Value(std::string("110000")),
                                         *GlobalModel::sharedModel()->courses(),
                                         platform::Value(1234));
    StudyLogDao dao;
    for (auto& [year, rows] : dao.getByUserId(platform::Value(1234)))
      for (auto& r : rows) dao.deleteById(*platform::find(r, "id"));
    logSeconds(kFirst, c.first);
    logSeconds(kSecond, c.second);
    order(kFirst, 1);
    order(kSecond, 0);
    auto local = LocalCourseController::create();
    local->view();
    ASSERT_EQ(local->courses().size(), 1u);
    auto cell = std::dynamic_pointer_cast<ReclassCell>(
        local->leftTableView()->cellForRowAtIndexPath(IndexPath{0, 0}));
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->lisMinsLabel()->text(), std::to_string(c.shown) + "分钟");
    EXPECT_EQ(cell->state(), 0);
  }
}

TEST_F(DownloadScreensTest, LocalCoursesOfflineShowOnlyFinishedDownloadsAndBuildOneStrip) {
  order(kFirst, 0);
  GlobalModel::sharedModel()->setLoginState(GlobalModel::kLoginOffline);
  auto local = LocalCourseController::create();
  local->view();
  EXPECT_TRUE(local->courses().empty());
  EXPECT_FALSE(local->checkAreaLabel()->isHidden());
  services->downloadDao()->update(platform::Value(1234), platform::Value(kFirst),
                                  platform::Value(1), platform::Value(std::string("110000")),
                                  platform::Value(kYear));
  const auto before = local->view()->subviews().size();
  local->loadData();
  local->loadData();
  EXPECT_EQ(local->courses().size(), 1u);
  EXPECT_EQ(local->view()->subviews().size(), before + 1);
  EXPECT_TRUE(local->checkAreaLabel()->isHidden());
  EXPECT_FALSE(local->topView()->isHidden());
  EXPECT_EQ(local->yearButtons().size(), 1u);
  EXPECT_EQ(local->yearButtons()[0]->titleForState(platform::ControlState::Normal), "2014年");
}

}  // namespace
