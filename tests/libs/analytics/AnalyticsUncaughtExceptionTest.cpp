// Describing exceptions, and reporting an uncaught one from a child process before it ends.

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <csignal>

#include "AnalyticsTestSupport.h"
#include "analytics/AnalyticsExceptionParser.h"
#include "analytics/AnalyticsUncaughtExceptionHandler.h"
#include "analytics/AnalyticsUtil.h"
#include "sqlite/SQLDatabase.h"

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
// to this test's endpoint; it waits for its request for 5 seconds of real time.
class AnalyticsUncaughtChildTest : public AnalyticsTest {
 protected:
  // Runs the child to its end; its wait status.
  int runChild(const std::vector<std::string>& extra) {
    std::vector<std::string> args = {ANALYTICS_UNCAUGHT_CHILD, home_.path()};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> env = {"CHENGHENG_ANALYTICS_HOST=" + endpoint_.origin(),
                                    "CHENGHENG_ANALYTICS_PLAIN_HOST=" + endpoint_.origin()};
    for (char** e = environ; *e; ++e) {
      std::string entry = *e;
      if (entry.rfind("CHENGHENG_ANALYTICS", 0) != 0) env.push_back(entry);
    }
    std::vector<char*> envp;
    for (auto& entry : env) envp.push_back(entry.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()), 0);
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    return status;
  }

  // The exception hit reached the endpoint, or at least the store, before the child ended.
  void expectExceptionHitReported() {
    bool sent = false;
    for (const auto& request : endpoint_.requests()) {
      if (queryValue(request.query(), "t") == "exception") {
        sent = true;
        EXPECT_EQ(queryValue(request.query(), "exf"), "1");
        EXPECT_EQ(queryValue(request.query(), "exd").rfind("std%3A%3Aout_of_range", 0), 0u);
      }
    }
    if (sent) return;
    auto db = SQLDatabase::databaseWithPath(
        AnalyticsDataStore::databaseFullPath(AnalyticsDataStore::kCurrentStoreName).value());
    ASSERT_TRUE(db->open());
    auto stored = db->stringForQuery(
        "SELECT parameters FROM AnalyticsHit WHERE parameters LIKE '%\"&exf\":\"1\"%'");
    EXPECT_TRUE(stored) << "the exception hit was neither sent nor stored";
  }
};

TEST_F(AnalyticsUncaughtChildTest, UncaughtExceptionIsReportedThenTheProcessAborts) {
  int status = runChild({});
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGABRT);
  expectExceptionHitReported();
}

TEST_F(AnalyticsUncaughtChildTest, ReportHandsOverToThePreviousHandler) {
  int status = runChild({"chain"});
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 42);
  expectExceptionHitReported();
}

}  // namespace
}  // namespace analyticstest
