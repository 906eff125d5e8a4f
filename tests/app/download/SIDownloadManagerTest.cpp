// The file downloader against the fake course server: partial files, ranges, rewrites and the
// notices it posts.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

#include "DownloadTestSupport.h"
#include "download/DownloadNotifications.h"
#include "download/LectureURL.h"
#include "download/SIBreakpointsDownload.h"
#include "download/SIDownloadManager.h"
#include "fakeserver/FakeCourseServer.h"
#include "platform/foundation/Assert.h"
#include "platform/foundation/Mutex.h"
#include "platform/foundation/Paths.h"
#include "platform/net/URLError.h"
#include "support/Files.h"
#include "support/MainLoop.h"
#include "support/ScriptedServer.h"
#include "support/TempHome.h"

namespace {

using testsupport::exists;
using testsupport::readFile;
using testsupport::runUntil;
using testsupport::writeFile;

class SIDownloadManagerTest : public ::testing::Test {
 protected:
  // Orders `url` into `name` and waits until it has finished or failed.
  void downloadOnce(const std::string& url, const std::string& name) {
    recorder.clear();
    downloader->addDownloadFileTaskInQueue(url, target(name), true, false);
    EXPECT_TRUE(runUntil(
        [&] { return recorder.count(kDownloadError) + recorder.count(kDownloadDidComplete) > 0; }));
  }

  void SetUp() override {
    ASSERT_TRUE(server.start());
    folder = platform::Paths::documents() + "/lecture";
    std::filesystem::create_directories(folder);
  }
  void TearDown() override {
    if (HasFailure()) std::cerr << downloadtest::describe(recorder, server);
    const auto& running = downloader->allDownloads();
    cancelled.insert(cancelled.end(), running.begin(), running.end());
    downloader->cancelAllDonloads();
    // The engine takes a transfer in on a pool thread (hashing its key, queueing it) and only
    // then retires it; a test that ended sooner would leave that work running into the next
    // test, or into the process exit, where the libraries it uses are being torn down.
    EXPECT_TRUE(runUntil([&] {
      return std::all_of(cancelled.begin(), cancelled.end(),
                         [](const auto& transfer) { return transfer->isFinished(); });
    }));
  }

  std::string target(const std::string& name) const { return folder + "/" + name; }
  std::string partial(const std::string& name) const {
    return SIDownloadManager::tempFilePathFor(target(name));
  }
  // Adds one file and runs until the downloader has said how it ended.
  std::string fetch(const std::string& media, const std::string& name, bool rewrite = false) {
    recorder.clear();
    downloader->addDownloadFileTaskInQueue(server.mediaUrl(media), target(name), true, rewrite);
    std::string outcome;
    runUntil([&] {
      for (const auto& entry : recorder.all()) {
        if (entry.name == kDownloadDidComplete || entry.name == kDownloadDone ||
            entry.name == kDownloadError || entry.name == kDownloadExist) {
          outcome = entry.name;
          return true;
        }
      }
      return false;
    });
    return outcome;
  }
  std::shared_ptr<platform::Error> lastError() const {
    auto errors = recorder.named(kDownloadError);
    if (errors.empty()) return nullptr;
    return platform::find(errors.back().info, kErrorKey)->object<platform::Error>();
  }
  std::vector<std::string> ranges(const std::string& media) const {
    std::vector<std::string> asked;
    for (const auto& request : server.requestsTo("/media/" + media))
      asked.push_back(request.header("Range"));
    return asked;
  }

  testsupport::TempHome home;
  fakeserver::FakeCourseServer server;
  downloadtest::Recorder recorder;
  std::shared_ptr<SIDownloadManager> downloader = SIDownloadManager::sharedSIDownloadManager();
  std::string folder;
  // Transfers a test cancelled itself; the teardown waits until the engine has retired them.
  std::vector<std::shared_ptr<SIBreakpointsDownload>> cancelled;
};

TEST_F(SIDownloadManagerTest, AFirstTransferAsksForTheWholeFileAndMovesItIntoPlace) {
  EXPECT_EQ(fetch("lecture1/0.ts", "0.ts"), kDownloadDidComplete);
  EXPECT_EQ(ranges("lecture1/0.ts"), std::vector<std::string>{""});
  EXPECT_EQ(readFile(target("0.ts")), readFile(server.fixturePath("lectures/lecture1/0.ts")));
  EXPECT_FALSE(exists(partial("0.ts")));
  auto requests = server.requestsTo("/media/lecture1/0.ts");
  ASSERT_EQ(requests.size(), 1u);
  auto request = requests.front();
  EXPECT_FALSE(request.header("User-Agent").empty());
  EXPECT_FALSE(request.hasHeader("x-client-identifier"));
  auto progress = recorder.named(kDownloadChangeProgress);
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back().text(kProgressKey), "1.00");
  EXPECT_TRUE(downloader->allDownloads().empty());
}

TEST_F(SIDownloadManagerTest, APartialFileIsContinuedAndCountsInTheProgress) {
  std::string whole = readFile(server.fixturePath("lectures/lecture1/1.ts"));
  writeFile(partial("1.ts"), whole.substr(0, 1000));
  EXPECT_EQ(fetch("lecture1/1.ts", "1.ts"), kDownloadDidComplete);
  EXPECT_EQ(ranges("lecture1/1.ts"), std::vector<std::string>{"bytes=1000-"});
  EXPECT_EQ(readFile(target("1.ts")), whole);
  auto progress = recorder.named(kDownloadChangeProgress);
  ASSERT_FALSE(progress.empty());
  EXPECT_GE(platform::leadingDouble(progress.front().text(kProgressKey)),
            1000.0 / whole.size() - 0.01);
}

TEST_F(SIDownloadManagerTest, TargetsAndRewritesTable) {
  struct Case {
    const char* name;
    bool partialPresent, targetPresent, rewrite;
    const char* outcome;
    bool requested;
  };
  const Case cases[] = {
      {"present, no rewrite", false, true, false, kDownloadDone, false},
      {"rewrite with both", true, true, true, kDownloadDone, false},
      {"rewrite with target only", false, true, true, kDownloadDidComplete, true},
      {"rewrite with partial only", true, false, true, kDownloadDidComplete, true},
  };
  const std::string fixture = readFile(server.fixturePath("lectures/lecture1/images/figure.png"));
  for (const auto& c : cases) {
    server.clearRequests();
    std::filesystem::remove(target("figure.png"));
    std::filesystem::remove(partial("figure.png"));
    if (c.partialPresent) writeFile(partial("figure.png"), "stale");
    if (c.targetPresent) writeFile(target("figure.png"), "old");
    EXPECT_EQ(fetch("lecture1/images/figure.png", "figure.png", c.rewrite), c.outcome) << c.name;
    EXPECT_EQ(server.requests().size(), c.requested ? 1u : 0u) << c.name;
    if (c.requested) {
      EXPECT_EQ(ranges("lecture1/images/figure.png"), std::vector<std::string>{""}) << c.name;
      EXPECT_EQ(readFile(target("figure.png")), fixture) << c.name;
    }
    // A rewrite deletes the partial file, or else the target, never both.
    if (c.partialPresent && c.targetPresent) {
      EXPECT_EQ(readFile(target("figure.png")), "old") << c.name;
    }
  }
}

TEST_F(SIDownloadManagerTest, ErrorAnswersNeverReachThePartialFile) {
  writeFile(partial("2.ts"), "0123456789");
  server.failPath("/media/lecture1/2.ts", 500);
  EXPECT_EQ(fetch("lecture1/2.ts", "2.ts"), kDownloadError);
  ASSERT_TRUE(lastError());
  EXPECT_EQ(lastError()->code(), 500);
  EXPECT_EQ(readFile(partial("2.ts")), "0123456789");
  EXPECT_FALSE(exists(target("2.ts")));
  EXPECT_TRUE(downloader->allDownloads().empty());
}

TEST_F(SIDownloadManagerTest, ARangeBeyondTheFileDeletesThePartialFile) {
  std::string whole = readFile(server.fixturePath("lectures/lecture1/3.ts"));
  writeFile(partial("3.ts"), whole + "extra bytes");
  EXPECT_EQ(fetch("lecture1/3.ts", "3.ts"), kDownloadError);
  EXPECT_EQ(lastError()->code(), 416);
  EXPECT_FALSE(exists(partial("3.ts")));
  // The next try starts afresh and succeeds.
  EXPECT_EQ(fetch("lecture1/3.ts", "3.ts"), kDownloadDidComplete);
  EXPECT_EQ(readFile(target("3.ts")), whole);
}

TEST_F(SIDownloadManagerTest, AWholeAnswerToARangeStartsTheFileAgain) {
  writeFile(partial("0.ts"), std::string(700, 'x'));
  server.setIgnoreRange(true);
  EXPECT_EQ(fetch("lecture1/0.ts", "0.ts"), kDownloadDidComplete);
  EXPECT_EQ(ranges("lecture1/0.ts"), std::vector<std::string>{"bytes=700-"});
  EXPECT_EQ(readFile(target("0.ts")), readFile(server.fixturePath("lectures/lecture1/0.ts")));
}

TEST_F(SIDownloadManagerTest, ARangeThatDoesNotContinueThePartialFileIsFetchedAfresh) {
  // An answer of 206 for another range than the one asked for.
  writeFile(partial("1.ts"), std::string(300, 'x'));
  server.setAnswer("/media/lecture1/1.ts", 206, "wrong part");
  recorder.clear();
  downloader->addDownloadFileTaskInQueue(server.mediaUrl("lecture1/1.ts"), target("1.ts"), true,
                                         false);
  ASSERT_TRUE(runUntil([&] { return recorder.count(kDownloadError) > 0; }));
  // The partial bytes were dropped and the file asked for once more from its start; the
  // overridden answer carries no Content-Range, so that second answer fails as well.
  EXPECT_EQ(ranges("lecture1/1.ts"), (std::vector<std::string>{"bytes=300-", ""}));
  EXPECT_FALSE(exists(target("1.ts")));
  EXPECT_FALSE(exists(partial("1.ts")));
}

TEST_F(SIDownloadManagerTest, DuplicatesPausesAndBadUrls) {
  server.holdAfter("/media/lecture1/0.ts", 0);
  const std::string url = server.mediaUrl("lecture1/0.ts");
  downloader->addDownloadFileTaskInQueue(url, target("0.ts"), true, false);
  downloader->addDownloadFileTaskInQueue(url, target("0.ts"), true, false);
  EXPECT_EQ(recorder.count(kDownloadExist), 1u);
  EXPECT_EQ(downloader->allDownloads().size(), 1u);
  EXPECT_EQ(downloader->dic(), (platform::Dictionary{{kURLKey, url}}));

  downloader->cancelDownloadFileTaskInQueue(server.mediaUrl("lecture1/9.ts"));
  EXPECT_EQ(recorder.count(kDownloadPause), 1u);  // posted also without a match
  ASSERT_EQ(downloader->allDownloads().size(), 1u);
  cancelled.push_back(downloader->allDownloads().front());
  downloader->cancelDownloadFileTaskInQueue(url);
  EXPECT_EQ(recorder.count(kDownloadPause), 2u);
  EXPECT_TRUE(downloader->allDownloads().empty());
  server.releaseHolds();

  // A URL that forms no request is an error, never a file already in place.
  recorder.clear();
  downloader->addDownloadFileTaskInQueue("http://exa mple/\n0.ts", target("x.ts"), true, false);
  EXPECT_EQ(recorder.count(kDownloadDone), 0u);
  EXPECT_EQ(recorder.count(kDownloadError), 1u);
}

TEST_F(SIDownloadManagerTest, ARewriteOfAFileInFlightLeavesItsPartialFileAlone) {
  // An image is always asked for with a rewrite; asking again while it is still arriving (a
  // lecture started over) must not take the running transfer's partial file away.
  server.holdAfter("/media/lecture1/images/figure.png", 100);
  const std::string url = server.mediaUrl("lecture1/images/figure.png");
  downloader->addDownloadFileTaskInQueue(url, target("figure.png"), true, true);
  ASSERT_TRUE(runUntil([&] { return server.isHolding("/media/lecture1/images/figure.png"); }));
  ASSERT_TRUE(runUntil([&] { return exists(partial("figure.png")); }));
  downloader->addDownloadFileTaskInQueue(url, target("figure.png"), true, true);
  EXPECT_EQ(recorder.count(kDownloadExist), 1u);
  EXPECT_TRUE(exists(partial("figure.png")));

  server.releaseHolds();
  ASSERT_TRUE(runUntil(
      [&] { return recorder.count(kDownloadDidComplete) + recorder.count(kDownloadError) > 0; }));
  EXPECT_EQ(recorder.count(kDownloadError), 0u);
  EXPECT_EQ(readFile(target("figure.png")),
            readFile(server.fixturePath("lectures/lecture1/images/figure.png")));
}

TEST_F(SIDownloadManagerTest, AnAnswerInPartsIsFollowedUntilTheFileIsWhole) {
  // A server that hands out at most 1,000 bytes per answer, each a 206 telling its part of the
  // 2,820 bytes: a part is not the file.
  const std::string whole = readFile(server.fixturePath("lectures/lecture1/0.ts"));
  ASSERT_EQ(whole.size(), 2820u);
  server.answerInParts("/media/lecture1/0.ts", 1000);
  EXPECT_EQ(fetch("lecture1/0.ts", "0.ts"), kDownloadDidComplete);
  EXPECT_EQ(ranges("lecture1/0.ts"), (std::vector<std::string>{"", "bytes=1000-", "bytes=2000-"}));
  EXPECT_EQ(readFile(target("0.ts")), whole);
  EXPECT_FALSE(exists(partial("0.ts")));
  EXPECT_EQ(recorder.count(kDownloadError), 0u);
  // Progress counts against the whole file, not the part.
  auto progress = recorder.named(kDownloadChangeProgress);
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.front().text(kProgressKey), "0.35");
  EXPECT_EQ(progress.back().text(kProgressKey), "1.00");
}

TEST_F(SIDownloadManagerTest, APartialFileThatIsAlreadyWholeIsMovedIntoPlace) {
  // The transfer stopped between its last byte and the move: the server refuses the range
  // (416) and tells the very size the partial file has.
  const std::string whole = readFile(server.fixturePath("lectures/lecture1/2.ts"));
  writeFile(partial("2.ts"), whole);
  EXPECT_EQ(fetch("lecture1/2.ts", "2.ts"), kDownloadDidComplete);
  EXPECT_EQ(ranges("lecture1/2.ts"),
            std::vector<std::string>{"bytes=" + std::to_string(whole.size()) + "-"});
  EXPECT_EQ(readFile(target("2.ts")), whole);
  EXPECT_FALSE(exists(partial("2.ts")));
}

TEST_F(SIDownloadManagerTest, NamesUpToTheFileSystemLimitAreDownloaded) {
  std::string chinese;
  for (int i = 0; i < 84; ++i) chinese += "讲";  // 252 bytes
  const std::string names[] = {std::string(230, 'a') + ".ts", std::string(231, 'b') + ".ts",
                               std::string(252, 'c') + ".ts", chinese + ".ts"};
  const std::string whole = readFile(server.fixturePath("lectures/lecture1/1.ts"));
  for (const auto& name : names) {
    EXPECT_LE(LectureURL::fileName(partial(name)).size(), LectureURL::kMaxFileNameBytes);
    // Cut short first, so the partial file is written, kept and continued.
    server.cutAfter("/media/lecture1/1.ts", 700);
    EXPECT_EQ(fetch("lecture1/1.ts", name), kDownloadError) << name.size();
    EXPECT_EQ(readFile(partial(name)).size(), 700u) << name.size();
    EXPECT_EQ(fetch("lecture1/1.ts", name), kDownloadDidComplete) << name.size();
    EXPECT_EQ(readFile(target(name)), whole) << name.size();
  }
}

TEST_F(SIDownloadManagerTest, EntryPointsRefuseOtherThreadsInDebugBuilds) {
#ifdef NDEBUG
  GTEST_SKIP() << "the main-thread check is made in debug builds only";
#else
  int refused = 0;
  std::thread([&] {
    auto attempt = [&](const std::function<void()>& call) {
      try {
        call();
      } catch (const platform::AssertionFailure&) {
        ++refused;
      }
    };
    attempt([&] { downloader->cancelAllDonloads(); });
    attempt([&] { downloader->cancelDownloadFileTaskInQueue(server.mediaUrl("lecture1/0.ts")); });
    attempt([&] {
      downloader->addDownloadFileTaskInQueue(server.mediaUrl("lecture1/0.ts"), target("0.ts"), true,
                                             false);
    });
  }).join();
  EXPECT_EQ(refused, 3);
  EXPECT_TRUE(server.requests().empty());
  EXPECT_TRUE(recorder.all().empty());
#endif
}

TEST_F(SIDownloadManagerTest, PartialFilesAreNamedPerTarget) {
  std::string a = SIDownloadManager::tempFilePathFor("/docs/7/110000_2014_1/0.ts");
  std::string b = SIDownloadManager::tempFilePathFor("/docs/7/110000_2014_2/0.ts");
  EXPECT_NE(a, b);
  for (const auto& path : {a, b}) {
    EXPECT_EQ(path.rfind(platform::Paths::temporary() + "/", 0), 0u);
    EXPECT_EQ(path.substr(path.size() - 10), "_0.ts.temp");
  }
  // Long names that differ only where they are cut still get partial files of their own.
  std::string c = SIDownloadManager::tempFilePathFor("/docs/7/k/" + std::string(300, 'x') + "1.ts");
  std::string d = SIDownloadManager::tempFilePathFor("/docs/7/k/" + std::string(300, 'x') + "2.ts");
  EXPECT_NE(c, d);
}

TEST_F(SIDownloadManagerTest, NetworkNoticesCarryTheDownloadersOwnStatus) {
  struct Case {
    std::uint32_t flags;
    const char* type;
  };
  const Case cases[] = {
      {platform::kReachabilityFlagsReachable, "2"},
      {platform::kReachabilityFlagsReachable | platform::kReachabilityFlagsIsWWAN, "3"},
      {0, "1"},
  };
  for (const auto& c : cases) {
    recorder.clear();
    downloadtest::reachability().setFlags(c.flags);
    platform::NotificationCenter::defaultCenter().post(kReachabilityChangedNotification);
    auto notices = recorder.named(kDownloadChangeNetwork);
    ASSERT_FALSE(notices.empty());
    EXPECT_EQ(notices.front().text(kTypeKey), c.type);
  }
  downloadtest::reachability().setFlags(platform::kReachabilityFlagsReachable);
}

// A media server that can publish a new version of its one file between two requests. It
// honours "Range" unless "If-Range" names another version than the current one, as HTTP says,
// or, when it `ignoresIfRange`, always, as some servers do.
class PublishingServer {
 public:
  explicit PublishingServer(std::string validatorHeader, bool ignoresIfRange = false)
      : header_(std::move(validatorHeader)),
        ignoresIfRange_(ignoresIfRange),
        server_([this](const testsupport::ScriptedRequest& request) { return answer(request); }) {}

  void publish(std::string body, std::string validator) EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    body_ = std::move(body);
    validator_ = std::move(validator);
  }
  // The next answer stops after `bytes` body bytes and the connection closes.
  void cutNextAfter(std::size_t bytes) EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    cut_ = bytes;
  }
  std::string url() const { return server_.url("/media/lecture/0.ts"); }
  std::vector<testsupport::ScriptedRequest> requests() const { return server_.requests(); }

 private:
  testsupport::ScriptedReply answer(const testsupport::ScriptedRequest& request) EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    auto ifRange = request.header("If-Range");
    testsupport::ScriptedReply reply = ignoresIfRange_ || !ifRange || *ifRange == validator_
                                           ? testsupport::ScriptedReply::ranged(request, body_)
                                           : testsupport::ScriptedReply::text(200, body_);
    reply.headers.emplace_back(header_, validator_);
    if (cut_) {
      reply.body.resize(*cut_);
      reply.behaviour = testsupport::ScriptedReply::Behaviour::CloseMidBody;
      cut_.reset();
    }
    return reply;
  }

  const std::string header_;
  const bool ignoresIfRange_;
  platform::Mutex mutex_;
  std::string body_ GUARDED_BY(mutex_);
  std::string validator_ GUARDED_BY(mutex_);
  std::optional<std::size_t> cut_ GUARDED_BY(mutex_);
  testsupport::ScriptedServer server_;
};

TEST_F(SIDownloadManagerTest, AResumeNeverSplicesTwoVersionsOfAFile) {
  struct Case {
    const char* header;
    std::string first, second;  // validators of the two versions
    bool republished;
  };
  const Case cases[] = {
      {"ETag", "\"v1\"", "\"v2\"", true},
      {"Last-Modified", "Tue, 01 Dec 2026 10:00:00 GMT", "Wed, 02 Dec 2026 10:00:00 GMT", true},
      {"ETag", "\"v1\"", "\"v1\"", false},
  };
  const std::string oldVersion(4000, 'o'), newVersion(4000, 'n');
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.header) + (c.republished ? " republished" : " unchanged"));
    PublishingServer server(c.header);
    server.publish(oldVersion, c.first);
    server.cutNextAfter(1500);
    const std::string name = std::string(c.header) + (c.republished ? "-new.ts" : "-same.ts");
    // Cut after 1,500 bytes of the old version, then resumed, maybe over a new one.
    downloadOnce(server.url(), name);
    ASSERT_EQ(recorder.count(kDownloadError), 1u);
    ASSERT_EQ(readFile(partial(name)), oldVersion.substr(0, 1500));
    if (c.republished) server.publish(newVersion, c.second);
    downloadOnce(server.url(), name);
    ASSERT_EQ(recorder.count(kDownloadDidComplete), 1u);
    EXPECT_EQ(readFile(target(name)), c.republished ? newVersion : oldVersion);
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_FALSE(requests[0].header("If-Range"));
    EXPECT_EQ(requests[1].header("Range"), "bytes=1500-");
    EXPECT_EQ(requests[1].header("If-Range"), c.first);
    EXPECT_FALSE(exists(partial(name)));
    EXPECT_EQ(testsupport::filesIn(platform::Paths::temporary()), std::vector<std::string>{});
  }
}

TEST_F(SIDownloadManagerTest, AResumeFromAServerThatIgnoresIfRangeNeverSplicesTwoVersions) {
  struct Case {
    const char* header;
    std::string first, second;  // validators of the two versions
    bool republished;
    bool sentAsIfRange;  // a weak tag never matches there, so it is not sent
  };
  const Case cases[] = {
      {"Last-Modified", "Tue, 01 Dec 2026 10:00:00 GMT", "Wed, 02 Dec 2026 10:00:00 GMT", true,
       true},
      {"ETag", "W/\"v1\"", "W/\"v2\"", true, false},
      {"ETag", "\"v1\"", "\"v2\"", true, true},
      {"Last-Modified", "Tue, 01 Dec 2026 10:00:00 GMT", "Tue, 01 Dec 2026 10:00:00 GMT", false,
       true},
      {"ETag", "W/\"v1\"", "W/\"v1\"", false, false},
  };
  const std::string oldVersion(4000, 'o'), newVersion(4000, 'n');
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first + (c.republished ? " then " + c.second : " unchanged"));
    PublishingServer server(c.header, true);
    server.publish(oldVersion, c.first);
    server.cutNextAfter(1500);
    const std::string name = "ignored-" + std::to_string(n++) + ".ts";
    // Cut after 1,500 bytes of the old version, then resumed, maybe over a new one.
    downloadOnce(server.url(), name);
    ASSERT_EQ(recorder.count(kDownloadError), 1u);
    ASSERT_EQ(readFile(partial(name)), oldVersion.substr(0, 1500));
    if (c.republished) server.publish(newVersion, c.second);
    downloadOnce(server.url(), name);
    ASSERT_EQ(recorder.count(kDownloadDidComplete), 1u);
    EXPECT_EQ(readFile(target(name)), c.republished ? newVersion : oldVersion);
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), c.republished ? 3u : 2u);
    EXPECT_EQ(requests[1].header("Range"), "bytes=1500-");
    EXPECT_EQ(requests[1].header("If-Range"),
              c.sentAsIfRange ? std::optional<std::string>(c.first) : std::nullopt);
    // The other version's range is dropped and the file asked for from its first byte.
    if (c.republished) {
      EXPECT_FALSE(requests[2].header("Range"));
    }
    EXPECT_FALSE(exists(partial(name)));
    EXPECT_EQ(testsupport::filesIn(platform::Paths::temporary()), std::vector<std::string>{});
  }
}

TEST_F(SIDownloadManagerTest, AKeptValidatorThatIsNoValidatorStartsTheFileOver) {
  const std::string whole = readFile(server.fixturePath("lectures/lecture1/1.ts"));
  const std::string kept[] = {
      std::string("\"v1\"\rX-Injected: 1\n"),     // a bare CR would end the header line
      std::string("\0\"v1\"\n", 6),               // a NUL would cut the header to nothing
      std::string("\"v1\"\n\"v2\"\n"),            // two validators
      std::string("\"v1\""),                      // cut before its line end
      std::string("\n"),                          // empty
      std::string("\"v 1\"\n"),                   // no entity tag, no date
      std::string("Tue, 01 Dec\x01 2026 GMT\n"),  // a control character in a date
      std::string(2000, 'a') + "\n",              // longer than any validator
  };
  for (const auto& text : kept) {
    SCOPED_TRACE(testing::PrintToString(text));
    server.clearRequests();
    std::filesystem::remove(target("1.ts"));
    writeFile(partial("1.ts"), whole.substr(0, 1000));
    writeFile(SIBreakpointsDownload::validatorPathFor(partial("1.ts")), text);
    EXPECT_EQ(fetch("lecture1/1.ts", "1.ts"), kDownloadDidComplete);
    auto requests = server.requestsTo("/media/lecture1/1.ts");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_FALSE(requests[0].hasHeader("Range")) << "the partial bytes' version is unknown";
    EXPECT_FALSE(requests[0].hasHeader("If-Range"));
    EXPECT_EQ(readFile(target("1.ts")), whole);
    EXPECT_EQ(testsupport::filesIn(platform::Paths::temporary()), std::vector<std::string>{});
  }
  // A validator that reads as one is sent back with the range.
  server.clearRequests();
  std::filesystem::remove(target("1.ts"));
  writeFile(partial("1.ts"), whole.substr(0, 1000));
  writeFile(SIBreakpointsDownload::validatorPathFor(partial("1.ts")), "\"v1\"\n");
  fetch("lecture1/1.ts", "1.ts");
  auto requests = server.requestsTo("/media/lecture1/1.ts");
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests[0].header("Range"), "bytes=1000-");
  EXPECT_EQ(requests[0].header("If-Range"), "\"v1\"");
}

// Where the platform offers a device that is always full, a partial file made a link to it
// fails every write with ENOSPC, as a full disk does.
bool canFillTheDisk(const std::string& partialPath) {
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(partialPath).parent_path(), error);
  if (!std::filesystem::exists("/dev/full", error)) return false;
  std::filesystem::create_symlink("/dev/full", partialPath, error);
  return !error;
}

bool isLinkPresent(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::is_symlink(path, ignored);
}

TEST_F(SIDownloadManagerTest, AFullDiskIsNamedAndLeavesNoPartialFileBehind) {
  if (!canFillTheDisk(partial("0.ts"))) GTEST_SKIP() << "no /dev/full to fill the disk with";
  EXPECT_EQ(fetch("lecture1/0.ts", "0.ts"), kDownloadError);
  ASSERT_TRUE(lastError());
  EXPECT_EQ(lastError()->domain(), platform::kPOSIXErrorDomain);
  EXPECT_EQ(lastError()->code(), ENOSPC);
  EXPECT_EQ(lastError()->localizedDescription(), std::strerror(ENOSPC));
  // What could not be completed is gone, so it holds no space the next files need.
  EXPECT_FALSE(isLinkPresent(partial("0.ts")));
  EXPECT_FALSE(exists(target("0.ts")));
  EXPECT_EQ(fetch("lecture1/0.ts", "0.ts"), kDownloadDidComplete);
  EXPECT_TRUE(readFile(target("0.ts")) == readFile(server.fixturePath("lectures/lecture1/0.ts")));
}

}  // namespace
