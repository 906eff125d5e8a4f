// The lecture pipeline end to end: DownloadManager, DownloadList and SIDownloadManager against
// the fake course server on loopback, with real files in a test home.

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <set>

#include "DownloadTestSupport.h"
#include "download/DownloadManager.h"
#include "download/DownloadNotifications.h"
#include "download/DownloadUtil.h"
#include "download/SIDownloadManager.h"
#include "fakeserver/FakeCourseServer.h"
#include "httpengine/HttpEngine.h"
#include "httpengine/HttpEngineNotifications.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/Thread.h"
#include "platform/net/Reachability.h"
#include "platform/net/URLConnection.h"
#include "support/Files.h"
#include "support/MainLoop.h"
#include "support/TempHome.h"

namespace {

using testsupport::exists;
using testsupport::filesIn;
using testsupport::readFile;
using testsupport::runUntil;
using testsupport::writeFile;
using Strings = std::vector<std::string>;

// What ffprobe reads from the fixture lectures' four segments.
constexpr int kLecturePackets = 20;

class DownloadPipelineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.start());
    root = platform::Paths::documents() + "/7";
    manager = std::make_unique<DownloadManager>();
    manager->setDownloadToPath(root);
  }
  void TearDown() override {
    if (HasFailure()) std::cerr << downloadtest::describe(recorder, server);
    manager->pauseAllDownload();
    SIDownloadManager::sharedSIDownloadManager()->cancelAllDonloads();
    downloadtest::reachability().setFlags(platform::kReachabilityFlagsReachable);
  }

  std::shared_ptr<CourseWare> lecture(const std::string& fixture) {
    auto cw = std::make_shared<CourseWare>();
    cw->setVideoUrl(server.mediaUrl(fixture + "/index.m3u8"));
    cw->setUrl(server.mediaUrl(fixture + "/notes.html"));
    return cw;
  }
  static std::string key(int cwId) {
    return DownloadUtil::getAbsoluteString("110000", "2014", std::to_string(cwId));
  }
  std::string folder(const std::string& key) const { return root + "/" + key; }
  std::string fixture(const std::string& relative) const {
    return readFile(server.fixturePath("lectures/" + relative));
  }
  bool finished(const std::string& key) const {
    auto keys = recorder.keys(kCellFinish);
    return std::find(keys.begin(), keys.end(), key) != keys.end();
  }
  bool failed(const std::string& key) const {
    auto keys = recorder.keys(kCellNetworkError);
    return std::find(keys.begin(), keys.end(), key) != keys.end();
  }
  std::string partialOf(const std::string& key, const std::string& file) const {
    return SIDownloadManager::tempFilePathFor(folder(key) + "/" + file);
  }
  // The segments and playlist in `key`'s folder are those of the fixture lecture.
  void expectPlaylistAndSegments(const std::string& key, const std::string& source) {
    for (const auto& file : {"index.m3u8", "0.ts", "1.ts", "2.ts", "3.ts"})
      EXPECT_TRUE(readFile(folder(key) + "/" + file) == fixture(source + "/" + file))
          << key << "/" << file << " differs from " << source << "/" << file;
  }
  Strings rangesAskedFor(const std::string& path) const {
    Strings ranges;
    for (const auto& request : server.requestsTo(path)) ranges.push_back(request.header("Range"));
    return ranges;
  }

  testsupport::TempHome home;
  fakeserver::FakeCourseServer server;
  downloadtest::Recorder recorder;

 protected:
  std::string root;
  std::unique_ptr<DownloadManager> manager;
};

TEST_F(DownloadPipelineTest, ALectureDownloadsCompletely) {
  const std::string k = key(9001);
  manager->addDownlodTask(lecture("lecture1"), k);
  EXPECT_EQ(recorder.count(kStartDown), 1u);  // at once
  EXPECT_EQ(manager->currentCwId(), k);
  ASSERT_TRUE(runUntil([&] { return finished(k); }));

  EXPECT_EQ(filesIn(folder(k)), (Strings{"0.ts", "1.ts", "2.ts", "3.ts", "figure.png", "index.m3u8",
                                         "leture.htm", "logo.jpg", "notes.css", "notes.js"}));
  expectPlaylistAndSegments(k, "lecture1");
  EXPECT_EQ(readFile(folder(k) + "/notes.js"), fixture("lecture1/js/notes.js"));
  EXPECT_EQ(readFile(folder(k) + "/notes.css"), fixture("lecture1/css/notes.css"));
  EXPECT_EQ(readFile(folder(k) + "/figure.png"), fixture("lecture1/images/figure.png"));
  EXPECT_EQ(readFile(folder(k) + "/logo.jpg"), fixture("lecture1/images/logo.jpg"));

  std::string page = readFile(folder(k) + "/leture.htm");
  EXPECT_NE(page.find("src=\"notes.js\""), std::string::npos);
  EXPECT_NE(page.find("href=\"notes.css\""), std::string::npos);
  EXPECT_NE(page.find("<img src=\"figure.png\" alt=\"图一\">\n<p>再看一遍：</p>\n"
                      "<img src=\"figure.png\""),
            std::string::npos);
  EXPECT_EQ(page.find("images/"), std::string::npos);

  // The playlist and page are read once each, then the files fetched one at a time in list
  // order (the playlist, stored already, is not asked for again); the figure used twice is
  // fetched once.
  Strings paths;
  for (const auto& request : server.requests()) {
    paths.push_back(request.path);
    if (request.path != "/media/lecture1/notes.html") {
      EXPECT_FALSE(request.header("User-Agent").empty()) << request.path;
    }
  }
  EXPECT_EQ(paths, (Strings{"/media/lecture1/index.m3u8", "/media/lecture1/notes.html",
                            "/media/lecture1/0.ts", "/media/lecture1/1.ts", "/media/lecture1/2.ts",
                            "/media/lecture1/3.ts", "/media/lecture1/js/notes.js",
                            "/media/lecture1/css/notes.css", "/media/lecture1/images/figure.png",
                            "/media/lecture1/images/logo.jpg"}));
  EXPECT_EQ(recorder.count(kCellNetworkError), 0u);
  auto progress = recorder.named(kChangP);
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back().text(kProgressKey), "1.000");
  EXPECT_EQ(progress.back().text(kCwIdKey), k);
  EXPECT_TRUE(manager->isDownload());
  EXPECT_FALSE(manager->currentCwId());
  EXPECT_EQ(manager->downingCount(), 0u);
  EXPECT_TRUE(filesIn(platform::Paths::temporary()).empty());
  EXPECT_EQ(downloadtest::packetsPlayableFromFiles(folder(k) + "/index.m3u8"), kLecturePackets);
}

TEST_F(DownloadPipelineTest, AnInterruptedSegmentResumesWhereItStopped) {
  const std::string k = key(9001);
  server.cutAfter("/media/lecture1/2.ts", 1000);
  manager->addDownlodTask(lecture("lecture1"), k);
  ASSERT_TRUE(runUntil([&] { return failed(k); }));
  EXPECT_FALSE(finished(k));
  EXPECT_TRUE(manager->isDownload());
  EXPECT_EQ(readFile(partialOf(k, "2.ts")), fixture("lecture1/2.ts").substr(0, 1000));
  EXPECT_FALSE(exists(folder(k) + "/2.ts"));

  manager->addDownlodTask(lecture("lecture1"), k);
  ASSERT_TRUE(runUntil([&] { return finished(k); }));
  EXPECT_EQ(rangesAskedFor("/media/lecture1/2.ts"), (Strings{"", "bytes=1000-"}));
  // Files already in place are not fetched again.
  EXPECT_EQ(server.requestsTo("/media/lecture1/0.ts").size(), 1u);
  expectPlaylistAndSegments(k, "lecture1");
  EXPECT_FALSE(exists(partialOf(k, "2.ts")));
}

TEST_F(DownloadPipelineTest, AServerThatIgnoresRangeStartsTheFileAgain) {
  const std::string k = key(9001);
  server.cutAfter("/media/lecture1/1.ts", 700);
  manager->addDownlodTask(lecture("lecture1"), k);
  ASSERT_TRUE(runUntil([&] { return failed(k); }));
  ASSERT_TRUE(exists(partialOf(k, "1.ts")));

  server.setIgnoreRange(true);
  manager->addDownlodTask(lecture("lecture1"), k);
  ASSERT_TRUE(runUntil([&] { return finished(k); }));
  EXPECT_EQ(rangesAskedFor("/media/lecture1/1.ts"), (Strings{"", "bytes=700-"}));
  expectPlaylistAndSegments(k, "lecture1");
}

TEST_F(DownloadPipelineTest, AnyFailedFileFailsTheLectureAndTheNextOneStarts) {
  Strings failedKeys;
  for (int status : {404, 500}) {
    server.failPath("/media/lecture1/2.ts", status);
    const std::string first = key(9001 + status), second = key(9002 + status);
    failedKeys.push_back(first);
    manager->addDownlodTask(lecture("lecture1"), first);
    manager->addDownlodTask(lecture("lecture2"), second);
    ASSERT_TRUE(runUntil([&] { return finished(second); })) << status;
    EXPECT_EQ(recorder.keys(kCellNetworkError), failedKeys) << status;
    // What came before the failure stays in the folder.
    EXPECT_TRUE(exists(folder(first) + "/1.ts")) << status;
    EXPECT_FALSE(exists(folder(first) + "/2.ts")) << status;
    expectPlaylistAndSegments(second, "lecture2");
    EXPECT_EQ(manager->allDownloaded().count(first), 1u) << status;
  }
  EXPECT_EQ(recorder.count(kStartDown), 4u);
}

TEST_F(DownloadPipelineTest, AFullDiskFailsTheLectureByNameAndLeavesRoomForTheNext) {
  namespace fs = std::filesystem;
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full to fill the disk with";
  // Each write that goes to the always-full device fails with ENOSPC, as on a full disk: the
  // stored playlist (written beside, then renamed) or a segment's partial file.
  const std::pair<std::string, std::function<std::string(const std::string&)>> cases[] = {
      {"playlist", [&](const std::string& k) { return folder(k) + "/index.m3u8.part"; }},
      {"segment", [&](const std::string& k) { return partialOf(k, "2.ts"); }},
      // The notes page is written beside and renamed as the playlist is.
      {"notes page", [&](const std::string& k) { return folder(k) + "/leture.htm.part"; }},
  };
  int id = 300;
  for (const auto& [what, blocked] : cases) {
    SCOPED_TRACE(what);
    const std::string first = key(++id), second = key(++id);
    const std::string link = blocked(first);
    fs::create_directories(fs::path(link).parent_path());
    fs::create_symlink("/dev/full", link);
    recorder.clear();
    manager->addDownlodTask(lecture("lecture1"), first);
    manager->addDownlodTask(lecture("lecture2"), second);
    ASSERT_TRUE(runUntil([&] { return finished(second); }));
    auto failures = recorder.named(kCellNetworkError);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].text(kCwIdKey), first);
    const platform::Value* error = platform::find(failures[0].info, kErrorKey);
    ASSERT_TRUE(error && error->object<platform::Error>());
    EXPECT_EQ(error->object<platform::Error>()->domain(), platform::kPOSIXErrorDomain);
    EXPECT_EQ(error->object<platform::Error>()->code(), ENOSPC);
    std::error_code ignored;
    EXPECT_FALSE(fs::is_symlink(link, ignored)) << "what could not be written is removed";
    expectPlaylistAndSegments(second, "lecture2");
  }
}

TEST_F(DownloadPipelineTest, PlaylistsThatListNothingFailTheLecture) {
  const std::pair<int, std::string> answers[] = {
      {200, "#EXTM3U\n#EXT-X-ENDLIST\n"}, {200, ""}, {404, "gone"}, {500, "oops"}};
  int id = 100;
  for (const auto& [status, body] : answers) {
    server.setAnswer("/media/lecture1/index.m3u8", status, body);
    const std::string k = key(++id);
    manager->addDownlodTask(lecture("lecture1"), k);
    ASSERT_TRUE(runUntil([&] { return failed(k); })) << body;
    EXPECT_FALSE(finished(k)) << body;
    EXPECT_TRUE(manager->isDownload());
  }
}

TEST_F(DownloadPipelineTest, PlaylistsWithCrlfAndCommentsGiveCleanNames) {
  server.setAnswer("/media/lecture1/index.m3u8", 200,
                   "#EXTM3U\r\n#EXT-X-TARGETDURATION:1\r\n# produced by hand\r\n#EXTINF:0.5,\r\n"
                   "0.ts\r\n#EXTINF:0.5,\r\n1.ts\r\n#EXT-X-ENDLIST\r\n");
  const std::string k = key(9001);
  manager->addDownlodTask(lecture("lecture1"), k);
  ASSERT_TRUE(runUntil([&] { return finished(k); }));
  EXPECT_EQ(readFile(folder(k) + "/0.ts"), fixture("lecture1/0.ts"));
  EXPECT_EQ(readFile(folder(k) + "/1.ts"), fixture("lecture1/1.ts"));
  EXPECT_FALSE(exists(folder(k) + "/2.ts"));
}

TEST_F(DownloadPipelineTest, PauseResumeAndRemove) {
  const std::string a = key(1), b = key(2), c = key(3);
  server.holdAfter("/media/lecture1/1.ts", 500);
  manager->addDownlodTask(lecture("lecture1"), a);
  manager->addDownlodTask(lecture("lecture2"), b);
  manager->addDownlodTask(lecture("lecture2"), c);
  EXPECT_EQ(manager->downingCount(), 3u);
  ASSERT_TRUE(runUntil([&] {
    for (const auto& entry : recorder.named(kDownloadChangeProgress))
      if (entry.text(kURLKey) == server.mediaUrl("lecture1/1.ts")) return true;
    return false;
  }));
  manager->removeDownloadTask(c);  // queued, not current: simply dropped
  manager->pauseDownload(a);       // current: its file is cancelled, b starts
  EXPECT_EQ(recorder.count(kDownloadPause), 1u);
  EXPECT_EQ(manager->pauseDic().count(a), 1u);
  EXPECT_EQ(manager->currentCwId(), b);
  server.releaseHolds();
  ASSERT_TRUE(runUntil([&] { return finished(b); }));
  EXPECT_FALSE(finished(a));
  EXPECT_FALSE(exists(folder(c)));
  EXPECT_TRUE(manager->isDownload());

  manager->resumeDownload(a);
  EXPECT_EQ(manager->currentCwId(), a);
  ASSERT_TRUE(runUntil([&] { return finished(a); }));
  EXPECT_EQ(rangesAskedFor("/media/lecture1/1.ts"), (Strings{"", "bytes=500-"}));
  expectPlaylistAndSegments(a, "lecture1");
  EXPECT_TRUE(manager->pauseDic().empty());
  EXPECT_EQ(recorder.keys(kCellFinish), (Strings{b, a}));
}

TEST_F(DownloadPipelineTest, ResumingWhileAnotherLectureRunsQueuesBehindIt) {
  const std::string a = key(1), b = key(2);
  manager->addDownlodTask(lecture("lecture1"), a);
  manager->pauseDownload(a);  // before its list arrives
  EXPECT_TRUE(manager->isDownload());
  manager->addDownlodTask(lecture("lecture2"), b);
  manager->resumeDownload(a);
  EXPECT_EQ(manager->currentCwId(), b);
  ASSERT_TRUE(runUntil([&] { return finished(a); }));
  EXPECT_EQ(recorder.keys(kCellFinish), (Strings{b, a}));
  // Lecture 1's first list was dropped with its pause and never reached lecture 2's folder.
  expectPlaylistAndSegments(b, "lecture2");
  expectPlaylistAndSegments(a, "lecture1");
}

TEST_F(DownloadPipelineTest, ListsOfOtherLecturesAreIgnored) {
  const std::string k = key(9001);
  manager->addDownlodTask(lecture("lecture1"), k);
  platform::NotificationCenter::defaultCenter().post(
      kParseDownlistOK, {},
      {{kArryListKey, platform::Array{server.mediaUrl("lecture2/0.ts")}}, {kCwIdKey, key(5)}});
  platform::NotificationCenter::defaultCenter().post(
      kParseDownlistOK, {}, {{kArryListKey, platform::Array{server.mediaUrl("lecture2/1.ts")}}});
  ASSERT_TRUE(runUntil([&] { return finished(k); }));
  EXPECT_TRUE(server.requestsTo("/media/lecture2/0.ts").empty());
  EXPECT_TRUE(server.requestsTo("/media/lecture2/1.ts").empty());
  expectPlaylistAndSegments(k, "lecture1");
}

TEST_F(DownloadPipelineTest, PauseAllLeavesTheManagerIdleAndLaterDownloadsStart) {
  const std::string a = key(1), b = key(2);
  server.holdAfter("/media/lecture1/0.ts", 0);
  manager->addDownlodTask(lecture("lecture1"), a);
  manager->addDownlodTask(lecture("lecture1"), b);
  ASSERT_TRUE(runUntil([&] { return server.isHolding("/media/lecture1/0.ts"); }));
  manager->pauseAllDownload();
  EXPECT_TRUE(manager->isDownload());
  EXPECT_FALSE(manager->currentCwId());
  EXPECT_EQ(manager->downingCount(), 0u);
  EXPECT_EQ(manager->pauseDic().size(), 2u);
  EXPECT_TRUE(SIDownloadManager::sharedSIDownloadManager()->allDownloads().empty());
  server.releaseHolds();

  manager->addDownlodTask(lecture("lecture2"), key(3));
  ASSERT_TRUE(runUntil([&] { return finished(key(3)); }));
  EXPECT_FALSE(finished(a));
  EXPECT_FALSE(finished(b));
}

TEST_F(DownloadPipelineTest, CancelAllStopsTheTransfersButLeavesTheQueueAsItIs) {
  const std::string a = key(1), b = key(2);
  server.holdAfter("/media/lecture1/0.ts", 0);
  manager->addDownlodTask(lecture("lecture1"), a);
  manager->addDownlodTask(lecture("lecture2"), b);
  ASSERT_TRUE(runUntil([&] { return server.isHolding("/media/lecture1/0.ts"); }));
  ASSERT_EQ(manager->currentURL(), server.mediaUrl("lecture1/0.ts"));

  manager->cancleAllDownload();
  auto paused = recorder.named(kDownloadPause);
  ASSERT_EQ(paused.size(), 1u);
  EXPECT_EQ(paused[0].text(kURLKey), server.mediaUrl("lecture1/0.ts"));
  EXPECT_TRUE(SIDownloadManager::sharedSIDownloadManager()->allDownloads().empty());
  // Unlike a logout, the manager still counts the lecture as current and both as queued.
  EXPECT_FALSE(manager->isDownload());
  EXPECT_EQ(manager->currentCwId(), a);
  EXPECT_EQ(manager->currentURL(), server.mediaUrl("lecture1/0.ts"));
  EXPECT_EQ(manager->downingCount(), 2u);
  EXPECT_TRUE(manager->pauseDic().empty());
  EXPECT_EQ(recorder.count(kCellNetworkError), 0u);
  server.releaseHolds();

  // Idle, it only cancels what the downloader has.
  manager->pauseAllDownload();
  recorder.clear();
  manager->cancleAllDownload();
  EXPECT_EQ(recorder.count(kDownloadPause), 0u);
  EXPECT_EQ(manager->pauseDic().size(), 2u);
}

TEST_F(DownloadPipelineTest, RequeueingTheCurrentLectureRebuildsItsListOnlyWhenItIsAlone) {
  // Idle: there is no current lecture to queue again.
  manager->reachableViaWWANDown();
  EXPECT_EQ(recorder.count(kStartDown), 0u);

  const std::string a = key(1), b = key(2);
  server.holdAfter("/media/lecture1/1.ts", 300);
  manager->addDownlodTask(lecture("lecture1"), a);
  ASSERT_TRUE(runUntil([&] { return server.isHolding("/media/lecture1/1.ts"); }));
  manager->reachableViaWWANDown();
  EXPECT_EQ(recorder.count(kStartDown), 2u);  // started again: a new file list is built
  EXPECT_EQ(manager->currentCwId(), a);
  server.releaseHolds();
  ASSERT_TRUE(runUntil([&] { return finished(a); }));
  EXPECT_EQ(recorder.keys(kCellFinish), Strings{a});
  expectPlaylistAndSegments(a, "lecture1");
  // The running transfer was not asked for twice: the second list found it under way.
  EXPECT_EQ(server.requestsTo("/media/lecture1/1.ts").size(), 1u);

  // Behind another queued lecture, queueing the current one again changes nothing.
  recorder.clear();
  server.holdAfter("/media/lecture2/0.ts", 0);
  manager->addDownlodTask(lecture("lecture2"), b);
  manager->addDownlodTask(lecture("lecture1"), a);
  ASSERT_TRUE(runUntil([&] { return server.isHolding("/media/lecture2/0.ts"); }));
  manager->reachableViaWWANDown();
  EXPECT_EQ(recorder.count(kStartDown), 1u);
  EXPECT_EQ(manager->currentCwId(), b);
  server.releaseHolds();
  ASSERT_TRUE(runUntil([&] { return finished(a); }));
  EXPECT_EQ(recorder.keys(kCellFinish), (Strings{b, a}));
}

TEST_F(DownloadPipelineTest, QueueingAPausedLectureAgainTakesItOutOfThePausedSet) {
  const std::string a = key(1), b = key(2);
  server.holdAfter("/media/lecture1/0.ts", 0);
  manager->addDownlodTask(lecture("lecture1"), a);
  manager->addDownlodTask(lecture("lecture2"), b);
  ASSERT_TRUE(runUntil([&] { return server.isHolding("/media/lecture1/0.ts"); }));
  manager->pauseAllDownload();  // logout
  server.releaseHolds();

  manager->addDownlodTask(lecture("lecture2"), b);
  EXPECT_EQ(manager->isDownloading().count(b), 1u);
  EXPECT_EQ(manager->pauseDic().count(b), 0u);
  EXPECT_EQ(manager->pauseDic().count(a), 1u);
  ASSERT_TRUE(runUntil([&] { return finished(b); }));
  EXPECT_EQ(manager->pauseDic().count(b), 0u);
}

TEST_F(DownloadPipelineTest, LosingTheNetworkEndsEveryQueuedLecture) {
  const std::string a = key(1), b = key(2);
  server.holdAfter("/media/lecture1/0.ts", 0);
  manager->addDownlodTask(lecture("lecture1"), a);
  manager->addDownlodTask(lecture("lecture2"), b);
  ASSERT_TRUE(runUntil([&] { return server.isHolding("/media/lecture1/0.ts"); }));

  downloadtest::reachability().setFlags(0);
  platform::NotificationCenter::defaultCenter().post(kReachabilityChangedNotification);
  auto network = recorder.named(kDownloadChangeNetwork);
  ASSERT_FALSE(network.empty());
  EXPECT_EQ(network.front().text(kTypeKey), kNetworkTypeOffline);
  auto errors = recorder.keys(kCellNetworkError);
  std::sort(errors.begin(), errors.end());
  EXPECT_EQ(errors, (Strings{a, b}));
  EXPECT_TRUE(manager->isDownload());
  EXPECT_EQ(manager->downingCount(), 0u);
  EXPECT_TRUE(manager->isError());
  EXPECT_FALSE(manager->currentCwId());  // idle: the failed lecture is not shown as running
  EXPECT_TRUE(SIDownloadManager::sharedSIDownloadManager()->allDownloads().empty());
  server.releaseHolds();

  // While idle, an offline notice changes nothing.
  recorder.clear();
  platform::NotificationCenter::defaultCenter().post(kReachabilityChangedNotification);
  EXPECT_EQ(recorder.count(kCellNetworkError), 0u);

  downloadtest::reachability().setFlags(platform::kReachabilityFlagsReachable);
  platform::NotificationCenter::defaultCenter().post(kReachabilityChangedNotification);
  EXPECT_EQ(recorder.named(kDownloadChangeNetwork).back().text(kTypeKey), kNetworkTypeWiFi);
}

TEST_F(DownloadPipelineTest, TwoLecturesWithSameNamedFilesKeepTheirBytesApart) {
  const std::string a = key(1), b = key(2);
  server.cutAfter("/media/lecture1/0.ts", 1200);
  manager->addDownlodTask(lecture("lecture1"), a);
  manager->addDownlodTask(lecture("lecture2"), b);
  ASSERT_TRUE(runUntil([&] { return finished(b); }));
  EXPECT_TRUE(failed(a));
  // Lecture 2's "0.ts" was fetched whole from its own server path, not continued from
  // lecture 1's partial bytes.
  EXPECT_EQ(rangesAskedFor("/media/lecture2/0.ts"), Strings{""});
  expectPlaylistAndSegments(b, "lecture2");

  manager->addDownlodTask(lecture("lecture1"), a);
  ASSERT_TRUE(runUntil([&] { return finished(a); }));
  EXPECT_EQ(rangesAskedFor("/media/lecture1/0.ts"), (Strings{"", "bytes=1200-"}));
  expectPlaylistAndSegments(a, "lecture1");
}

TEST_F(DownloadPipelineTest, AFailedMoveReportsAFileErrorAndKeepsThePartialFile) {
  const std::string k = key(9001);
  server.holdAfter("/media/lecture1/1.ts", 300);
  manager->addDownlodTask(lecture("lecture1"), k);
  ASSERT_TRUE(runUntil([&] { return server.isHolding("/media/lecture1/1.ts"); }));
  std::filesystem::remove_all(folder(k));
  server.releaseHolds();
  ASSERT_TRUE(runUntil([&] { return failed(k); }));
  auto errors = recorder.named(kDownloadError);
  ASSERT_EQ(errors.size(), 1u);
  auto error = platform::find(errors[0].info, kErrorKey)->object<platform::Error>();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain(), platform::kPOSIXErrorDomain);
  EXPECT_EQ(readFile(partialOf(k, "1.ts")), fixture("lecture1/1.ts"));
  EXPECT_TRUE(manager->isDownload());
}

// The next file's transfer is started from the notice that the file before it is in place, on
// the main thread, where the shared queue then tells of it: whenever it does while a lecture
// runs, every file listed before the current one is in the lecture's folder.
TEST_F(DownloadPipelineTest, EachFileIsInPlaceBeforeTheNextOneStarts) {
  const std::string k = key(9001);
  Strings notYetInPlace;
  std::size_t checks = 0;
  auto watch = platform::NotificationCenter::defaultCenter().addObserver(
      kHttpEngineOperationCountChanged, [&](const platform::Notification&) {
        // The lecture's own list is fetched through other threads; its files are queued here.
        if (!platform::Thread::isMainThread() || manager->isDownload()) return;
        const Strings& names = manager->fileNames();
        for (std::uint32_t i = 0; i < manager->currentId() && i < names.size(); ++i) {
          if (!exists(folder(k) + "/" + names[i]))
            notYetInPlace.push_back(names[i] + " when " + names[manager->currentId()] + " started");
        }
        if (manager->currentId() > 1) ++checks;
      });
  manager->addDownlodTask(lecture("lecture1"), k);
  ASSERT_TRUE(runUntil([&] { return finished(k); }));
  EXPECT_EQ(notYetInPlace, Strings{});
  // Not a check of nothing: at least the segments after the first were looked at.
  EXPECT_GE(checks, 3u);
  expectPlaylistAndSegments(k, "lecture1");
}

// A pause that lands between two files of a lecture: after the last byte of one but before it is
// moved into place, or once it is in place and the next one has just started. Either way the
// finished file is kept in place, nothing after it is fetched or stored, and the lecture is
// paused, not finished nor failed.
TEST_F(DownloadPipelineTest, APauseBetweenTwoFilesKeepsTheFirstAndFetchesNoMore) {
  struct Case {
    const char* moment;
    bool afterTheMove;
    const char* cancelled;  // the file whose transfer the pause cancels
  };
  const Case cases[] = {
      {"its last byte is in, not yet moved", false, "1.ts"},
      {"it is in place and the next has started", true, "2.ts"},
  };
  auto& center = platform::NotificationCenter::defaultCenter();
  auto urlOf = [](const platform::Notification& n) {
    const platform::Value* url = platform::find(n.userInfo, kURLKey);
    return url ? url->stringValue() : std::string();
  };
  int cwId = 9001;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.moment);
    recorder.clear();
    server.clearRequests();
    const std::string k = key(cwId++);
    const std::string first = server.mediaUrl("lecture1/1.ts");
    bool paused = false;
    auto pauseOnce = [&] {
      if (paused) return;
      paused = true;
      manager->pauseDownload(k);
    };
    // Told on the main thread as the queue lets the finished transfer go, before its handlers.
    auto beforeTheMove =
        center.addObserver(kHttpEngineOperationCountChanged, [&](const platform::Notification& n) {
          if (c.afterTheMove || !platform::Thread::isMainThread()) return;
          if (manager->currentURL() == first && n.object.integerValue() == 0) pauseOnce();
        });
    // Added after the manager's own observer, so the next file has started by then.
    auto afterTheMove =
        center.addObserver(kDownloadDidComplete, [&](const platform::Notification& n) {
          if (c.afterTheMove && urlOf(n) == first) pauseOnce();
        });
    auto firstInPlace = [&] {
      auto completed = recorder.named(kDownloadDidComplete);
      return !completed.empty() && completed.back().text(kURLKey) == first;
    };
    manager->addDownlodTask(lecture("lecture1"), k);
    ASSERT_TRUE(runUntil([&] {
      return paused && firstInPlace() && platform::URLConnection::transfersInFlight() == 0 &&
             HttpEngine::sharedOperationQueue()->operationCount() == 0;
    }));

    EXPECT_EQ(readFile(folder(k) + "/1.ts"), fixture("lecture1/1.ts"));
    auto completed = recorder.named(kDownloadDidComplete);
    ASSERT_EQ(completed.size(), 2u);  // 0.ts and 1.ts
    EXPECT_EQ(completed.back().text(kURLKey), first);
    auto pauses = recorder.named(kDownloadPause);
    ASSERT_EQ(pauses.size(), 1u);
    EXPECT_EQ(pauses[0].text(kURLKey), server.mediaUrl(std::string("lecture1/") + c.cancelled));
    for (const char* later : {"2.ts", "3.ts"}) {
      EXPECT_FALSE(exists(folder(k) + "/" + later)) << later;
      EXPECT_FALSE(exists(partialOf(k, later))) << later;
    }
    EXPECT_TRUE(server.requestsTo("/media/lecture1/3.ts").empty());
    if (!c.afterTheMove) {
      EXPECT_TRUE(server.requestsTo("/media/lecture1/2.ts").empty());
    }
    EXPECT_FALSE(finished(k));
    EXPECT_FALSE(failed(k));
    EXPECT_EQ(manager->pauseDic().count(k), 1u);
    EXPECT_TRUE(manager->isDownload());
  }
}

TEST_F(DownloadPipelineTest, TheOfflineCopyPlaysFromItsFolderAlone) {
  // A playlist may name its segments in every way a URL can be written, and several segments
  // may end in the same name. Every one must be fetched, and the stored playlist must name the
  // stored files, so that the lecture plays with the server gone.
  const std::string media = home.path() + "/media";
  for (int i = 0; i < 4; ++i) {
    std::string part = std::string(1, static_cast<char>('a' + i));
    std::filesystem::create_directories(media + "/mix/" + part);
    writeFile(media + "/mix/" + part + "/seg.ts", fixture("lecture1/" + std::to_string(i) + ".ts"));
  }
  server.setMediaRoot(media);
  const std::string authority = server.host() + ":" + std::to_string(server.port());
  server.setAnswer("/media/mix/index.m3u8", 200,
                   "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:1\n#EXT-X-MEDIA-SEQUENCE:0\n"
                   "#EXTINF:0.5,\na/seg.ts\n"
                   "#EXTINF:0.5,\n${BASE}/media/mix/b/seg.ts\n"
                   "#EXTINF:0.5,\n//" +
                       authority +
                       "/media/mix/c/seg.ts?token=3\n"
                       "#EXTINF:0.5,\n/media/mix/d/seg.ts\n"
                       "#EXT-X-ENDLIST\n");
  auto cw = std::make_shared<CourseWare>();
  cw->setVideoUrl(server.mediaUrl("mix/index.m3u8"));
  const std::string k = key(9300);
  manager->addDownlodTask(cw, k);
  ASSERT_TRUE(runUntil([&] { return finished(k) || failed(k); }));
  ASSERT_TRUE(finished(k));

  for (const char* part : {"a", "b", "c", "d"})
    EXPECT_EQ(server.requestsTo("/media/mix/" + std::string(part) + "/seg.ts").size(), 1u) << part;
  // Four distinct files beside the playlist, each holding its own segment.
  Strings stored = filesIn(folder(k));
  ASSERT_EQ(stored.size(), 5u);
  std::set<std::string> contents;
  for (const auto& name : stored)
    if (name != "index.m3u8") contents.insert(readFile(folder(k) + "/" + name));
  EXPECT_EQ(contents.size(), 4u);
  std::string playlist = readFile(folder(k) + "/index.m3u8");
  EXPECT_EQ(playlist.find("/"), std::string::npos) << playlist;
  EXPECT_EQ(playlist.rfind("#EXTM3U\n#EXT-X-VERSION:3\n", 0), 0u) << playlist;
  EXPECT_EQ(downloadtest::packetsPlayableFromFiles(folder(k) + "/index.m3u8"), kLecturePackets);
}

TEST_F(DownloadPipelineTest, APageInPlaceOfThePlaylistFailsTheLectureAndIsNeverStored) {
  // A captive portal answers every address with its sign-in page.
  server.setAnswer("/media/portal/index.m3u8", 200,
                   "<html>\n<head><title>Sign in</title></head>\n<body>\n"
                   "<form action=\"login\">\n</form>\n</body>\n</html>\n");
  const std::string k = key(9400);
  manager->addDownlodTask(lecture("portal"), k);
  ASSERT_TRUE(runUntil([&] { return failed(k) || finished(k); }));
  EXPECT_TRUE(failed(k));
  EXPECT_TRUE(filesIn(folder(k)).empty());
  Strings paths;
  for (const auto& request : server.requests()) paths.push_back(request.path);
  EXPECT_EQ(paths, Strings{"/media/portal/index.m3u8"});
}

TEST_F(DownloadPipelineTest, AStoredPlaylistIsAlwaysTheCheckedOne) {
  // A folder left with something unchecked under the playlist's name (a portal's page kept by
  // an earlier download) and every segment present.
  const std::string k = key(9500);
  std::filesystem::create_directories(folder(k));
  writeFile(folder(k) + "/index.m3u8", "<html><body>Sign in</body></html>\n");
  for (int i = 0; i < 4; ++i) {
    std::string name = std::to_string(i) + ".ts";
    writeFile(folder(k) + "/" + name, fixture("lecture1/" + name));
  }
  manager->addDownlodTask(lecture("lecture1"), k);
  ASSERT_TRUE(runUntil([&] { return finished(k) || failed(k); }));
  EXPECT_TRUE(finished(k));
  EXPECT_EQ(readFile(folder(k) + "/index.m3u8"), fixture("lecture1/index.m3u8"));
  EXPECT_EQ(server.requestsTo("/media/lecture1/index.m3u8").size(), 1u);
  EXPECT_EQ(downloadtest::packetsPlayableFromFiles(folder(k) + "/index.m3u8"), kLecturePackets);
}

TEST(DownloadManagerProgressTest, LectureProgressTable) {
  struct Case {
    double fraction;
    std::uint32_t index, count;
    const char* expected;
  };
  const Case cases[] = {
      {0.5, 0, 11, "0.150"}, {0.5, 9, 11, "0.990"}, {1.0, 9, 11, "1.000"},
      {0.3, 0, 1, "0.990"},  {1.0, 0, 1, "0.990"},  {0.0, 0, 3, "0.500"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(DownloadManager::lectureProgress(c.fraction, c.index, c.count), c.expected)
        << c.fraction << " " << c.index << "/" << c.count;
}

TEST_F(DownloadPipelineTest, ALongLectureWhoseFilesArePresentFinishesWithoutNesting) {
  // Each present file is reported done at once; taking those steps by nesting once overflowed
  // the main thread's stack for lectures of some thousands of segments.
  const std::string k = key(9100);
  const int count = 12000;
  std::string playlist = "#EXTM3U\n";
  std::filesystem::create_directories(folder(k));
  for (int i = 0; i < count; ++i) {
    playlist += "#EXTINF:2,\n" + std::to_string(i) + ".ts\n";
    writeFile(folder(k) + "/" + std::to_string(i) + ".ts", "x");
  }
  server.setAnswer("/media/long/index.m3u8", 200, playlist);
  manager->addDownlodTask(lecture("long"), k);
  ASSERT_TRUE(runUntil([&] { return finished(k) || failed(k); }));
  EXPECT_TRUE(finished(k));
  EXPECT_EQ(server.requestsTo("/media/long/0.ts").size(), 0u);
  EXPECT_TRUE(manager->isDownload());
}

}  // namespace
