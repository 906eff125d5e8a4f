// Describing exceptions, and reporting an uncaught one from a child process before it ends.

#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "AnalyticsTestSupport.h"
#include "analytics/AnalyticsDataStore.h"
#include "analytics/AnalyticsExceptionParser.h"
#include "analytics/AnalyticsUncaughtExceptionHandler.h"
#include "analytics/AnalyticsUtil.h"
#include "sqlite/SQLDatabase.h"
#include "sqlite/SQLResultSet.h"

extern char** environ;

namespace analyticstest {
namespace {

AnalyticsException rangeException(std::vector<std::string> frames) {
  return {"NSRangeException", "index 5 beyond bounds", std::move(frames)};
}

const std::vector<std::string> kFrames = {
    "0   CoreFoundation                      0x0000000101d2e795 __exceptionPreprocess + 165",
    "1   libobjc.A.dylib                     0x0000000101a91991 objc_exception_throw + 45",
    "2   CoreFoundation                      0x0000000101d2e5aa +[NSException raise:format:] + 0",
    "3   App                                 0x0000000100001a2b -[A b:] + 59",
    "4   App                                 0x0000000100001c3d main + 61",
    "5   broken",
};

TEST(AnalyticsExceptionParserTest, DescriptionIsTheNameAndTheTrace) {
  EXPECT_EQ(AnalyticsExceptionParser::exceptionDescription(rangeException(kFrames), 150),
            "NSRangeException\nTrace:\n-[A b:]\nmain");
  EXPECT_EQ(AnalyticsExceptionParser::exceptionDescription(rangeException({}), 150),
            "NSRangeException");
  EXPECT_EQ(AnalyticsExceptionParser::exceptionDescription(rangeException(kFrames), 10),
            "NSRangeExc");
}

TEST(AnalyticsExceptionParserTest, LongTracesAreCutExactlyUnlessUnlimited) {
  std::vector<std::string> frames(2, "0 x 0x0 machinery + 1");
  for (int i = 0; i < 40; ++i) {
    frames.push_back(std::to_string(i + 2) + " App 0x1 function_number_" + std::to_string(i) +
                     " + 4");
  }
  std::string cut = AnalyticsExceptionParser::exceptionDescription(rangeException(frames), 150);
  EXPECT_EQ(cut.size(), 150u);
  std::string whole = AnalyticsExceptionParser::exceptionDescription(rangeException(frames), 0);
  EXPECT_GT(whole.size(), 700u);
  EXPECT_EQ(whole.compare(0, 150, cut), 0);
  // A character is never cut in two.
  AnalyticsException wide{"异常", "", {}};
  EXPECT_EQ(AnalyticsExceptionParser::exceptionDescription(wide, 1), "异");
}

TEST(AnalyticsExceptionParserTest, SymbolsOfListingLines) {
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"3 App 0x1 -[A b:] + 59", "-[A b:]"},
      {"4   App  0x1   main + 61", "main"},
      {"2 CF 0x1 +[NSException raise:format:] + 0", std::nullopt},
      {"1 x 0x1 y", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [line, symbol] : cases) {
    EXPECT_EQ(AnalyticsExceptionParser::symbolFromStackFrame(line), symbol) << line;
  }
}

TEST(AnalyticsExceptionParserTest, DescriptionsForLogLines) {
  EXPECT_EQ(AnalyticsUtil::descriptionFromException(std::nullopt), std::nullopt);
  EXPECT_EQ(AnalyticsUtil::descriptionFromException(
                AnalyticsException::fromException(platform::Exception("Named", "why"))),
            "Named");
  EXPECT_EQ(AnalyticsUtil::descriptionFromError(platform::Error::withDescription("D", 7, "bad")),
            "D 7: bad");
  EXPECT_EQ(AnalyticsUtil::descriptionFromError(std::nullopt), std::nullopt);
}

TEST(AnalyticsUncaughtExceptionTest, InstallingTwiceAndRemovingRestoresThePreviousHandler) {
  std::terminate_handler before = std::get_terminate();
  AnalyticsInstallUncaughtExceptionHandler();
  AnalyticsInstallUncaughtExceptionHandler();
  EXPECT_EQ(std::get_terminate(), &AnalyticsTerminateHandler);
  AnalyticsRestoreUncaughtExceptionHandler();
  EXPECT_EQ(std::get_terminate(), before);
  AnalyticsRestoreUncaughtExceptionHandler();
  EXPECT_EQ(std::get_terminate(), before);
}

// The child is a program of its own, started with a clean environment of threads, that reports
// to this test's endpoint; it waits for its request for 5 seconds of real time, and ends after
// 10 at the latest.
class AnalyticsUncaughtChildTest : public AnalyticsTest {
 protected:
  // A child still running after this long (real time) hangs: it is killed and the test fails.
  static constexpr int kHangMilliseconds = 60000;

  // Runs the child to its end; its wait status.
  int runChild(const std::vector<std::string>& extra) {
    std::vector<std::string> args = {ANALYTICS_UNCAUGHT_CHILD, home_.path()};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    // The report's bound shortened from 10 s to 4 (2 s of them to send the hit over loopback),
    // so the four children take a quarter of a minute, not half of one.
    std::vector<std::string> env = {"CHENGHENG_ANALYTICS_HOST=" + endpoint_.origin(),
                                    "CHENGHENG_ANALYTICS_PLAIN_HOST=" + endpoint_.origin(),
                                    "CHENGHENG_ANALYTICS_REPORT_SECONDS=4"};
    for (char** e = environ; *e; ++e) {
      std::string entry = *e;
      if (entry.rfind("CHENGHENG_ANALYTICS", 0) != 0) env.push_back(entry);
    }
    std::vector<char*> envp;
    for (auto& entry : env) envp.push_back(entry.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()), 0);
    if (!waitForEnd(pid)) {
      ADD_FAILURE() << "the child still ran after " << kHangMilliseconds << " ms: it hangs";
      kill(pid, SIGKILL);
    }
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    return status;
  }

  // Whether the child ends within kHangMilliseconds (its process descriptor becomes readable).
  static bool waitForEnd(pid_t pid) {
    int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0) {
      ADD_FAILURE() << "no process descriptor for the child";
      return false;
    }
    pollfd ended{fd, POLLIN, 0};
    int ready = poll(&ended, 1, kHangMilliseconds);
    close(fd);
    return ready == 1;
  }

  // The exception hit reached the endpoint before the child ended (a hit only stored would
  // leave with the next launch, if there is one).
  void expectExceptionHitSent() {
    bool sent = false;
    for (const auto& request : endpoint_.requests()) {
      if (queryValue(request.query(), "t") == "exception") {
        sent = true;
        EXPECT_EQ(queryValue(request.query(), "exf"), "1");
        EXPECT_EQ(queryValue(request.query(), "exd").rfind("std%3A%3Aout_of_range", 0), 0u);
      }
    }
    EXPECT_TRUE(sent) << "the exception hit never reached the collection service";
  }
};

TEST_F(AnalyticsUncaughtChildTest, UncaughtExceptionIsReportedThenTheProcessAborts) {
  int status = runChild({});
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGABRT);
  expectExceptionHitSent();
}

TEST_F(AnalyticsUncaughtChildTest, ReportHandsOverToThePreviousHandler) {
  int status = runChild({"chain"});
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 42);
  expectExceptionHitSent();
}

// The exception leaves the instance lock held (nothing unwinds an uncaught exception): the
// report gets the tracker and the dispatcher without it, and the hit still leaves.
TEST_F(AnalyticsUncaughtChildTest, AnExceptionUnderTheInstanceLockIsStillReported) {
  int status = runChild({"instance-lock"});
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGABRT);
  expectExceptionHitSent();
}

// A report that waits for a lock that never comes free gives up at its deadline and still
// hands over to the previous handler.
TEST_F(AnalyticsUncaughtChildTest, AReportThatCannotEndStillHandsOver) {
  int status = runChild({"chain", "held-lock"});
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 42);
}

// The exception leaves a lock held for good: "tracker-lock" goes uncaught inside the tracker's
// send (the tracker's lock), "store-lock" while another connection holds the hit store's write
// lock (a hit stored first would wait for it, and the analytics thread with it, until the
// process ends). The report builds its hit without the one and sends it without the other.
TEST_F(AnalyticsUncaughtChildTest, AnExceptionWhileTheTrackerOrTheStoreIsLockedIsStillReported) {
  auto exceptionHits = [&] {
    std::size_t count = 0;
    for (const auto& request : endpoint_.requests())
      if (queryValue(request.query(), "t") == "exception") ++count;
    return count;
  };
  for (const char* mode : {"tracker-lock", "store-lock"}) {
    SCOPED_TRACE(mode);
    const std::size_t before = exceptionHits();
    int status = runChild({mode});
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGABRT);
    EXPECT_EQ(exceptionHits(), before + 1) << "the exception hit never reached the endpoint";
  }
  expectExceptionHitSent();
}

// `main` returns right after a hit was handed to the tracker, without the terminate
// notification: the hit, still queued for the analytics thread, is stored on the way out (or,
// had it been sent in between, it reached the endpoint).
TEST_F(AnalyticsUncaughtChildTest, AHitHandedOverJustBeforeMainReturnsIsStored) {
  int status = runChild({"return"});
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  bool sent = false;
  for (const auto& request : endpoint_.requests())
    if (queryValue(request.query(), "t") == "appview") sent = true;
  auto store = SQLDatabase::databaseWithPath(
      AnalyticsDataStore::databaseFullPath(AnalyticsDataStore::kCurrentStoreName).value_or(""));
  ASSERT_TRUE(store->open());
  int stored = 0;
  auto rows = store->executeQuery("SELECT parameters FROM AnalyticsHit");
  while (rows && rows->next()) {
    if (rows->stringForColumnIndex(0).value_or("").find("handed over last") != std::string::npos)
      ++stored;
  }
  if (rows) rows->close();
  store->close();
  EXPECT_TRUE(sent || stored == 1) << "the screen view was lost";
}

}  // namespace
}  // namespace analyticstest
