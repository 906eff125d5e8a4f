#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <regex>
#include <set>

#include "logging/LGFileLogger.h"
#include "logging/LGLogFileManagerDefault.h"
#include "logging/LoggingTestSupport.h"
#include "platform/foundation/Assert.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Mutex.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/SharedObject.h"
#include "support/Files.h"
#include "support/TempHome.h"

using testsupport::exists;
using testsupport::readFile;

namespace {

int lineCount(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

// A file manager that tells when a file has been rolled.
class WatchedManager : public LGLogFileManagerDefault {
  CH_SHARED_OBJECT(WatchedManager)
 public:
  bool answersArchiveNotifications() const override { return true; }
  void didRollAndArchiveLogFile(const std::string& path) override {
    platform::MutexLock lock(mutex_);
    rolled_.push_back(path);
    cv_.notify_all();
  }
  void didArchiveLogFile(const std::string& path) override {
    platform::MutexLock lock(mutex_);
    archived_.push_back(path);
  }
  bool waitForRolls(std::size_t count) {
    platform::MutexLock lock(mutex_);
    return cv_.wait_for(lock.native(), std::chrono::seconds(30),
                        [&]() REQUIRES(mutex_) { return rolled_.size() >= count; });
  }
  std::vector<std::string> archived() {
    platform::MutexLock lock(mutex_);
    return archived_;
  }

 private:
  using LGLogFileManagerDefault::LGLogFileManagerDefault;
  platform::Mutex mutex_;
  std::condition_variable cv_;
  std::vector<std::string> rolled_ GUARDED_BY(mutex_);
  std::vector<std::string> archived_ GUARDED_BY(mutex_);
};

class LGFileLoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "CST-8", 1);
    tzset();
    folder_ = platform::Paths::join(home_.path(), "Logs");
    manager_ = WatchedManager::create(folder_);
  }
  void TearDown() override { logtest::detachAll(); }

  std::shared_ptr<LGFileLogger> attachNewLogger() {
    auto logger = LGFileLogger::create(manager_);
    LGLog::addLogger(logger);
    return logger;
  }
  // Makes a log file directly, archived or not.
  std::string makeFile(const std::string& name, bool archived, const std::string& text = "") {
    std::filesystem::create_directories(folder_);
    std::string path = platform::Paths::join(folder_, name);
    testsupport::writeFile(path, text);
    LGLogFileInfo(path).setIsArchived(archived);
    return path;
  }
  std::vector<std::shared_ptr<LGLogFileInfo>> files() { return manager_->sortedLogFileInfos(); }
  std::shared_ptr<LGLogFileInfo> activeFile() {
    for (auto& info : files()) {
      if (!info->isArchived()) return info;
    }
    return nullptr;
  }

  testsupport::TempHome home_;
  std::string folder_;
  std::shared_ptr<WatchedManager> manager_;
};

TEST_F(LGFileLoggerTest, TenMessagesMakeOneFileOfTenDefaultLines) {
  platform::ScopedManualClock clock;
  clock->setDate(platform::dateFromSeconds(1365142028.25));  // 2013-04-05 06:07:08.250 UTC
  auto logger = attachNewLogger();
  for (int i = 0; i < 10; ++i) {
    std::string text = "line " + std::to_string(i) + (i == 3 ? "\n" : "");
    logtest::logText(i == 9 ? false : true, LG_LOG_FLAG_INFO, text);
  }
  auto names = manager_->unsortedLogFileNames();
  ASSERT_EQ(names.size(), 1u);
  EXPECT_TRUE(std::regex_match(names[0], std::regex("log-[0-9A-F]{6}\\.txt")));
  std::string expected;
  for (int i = 0; i < 10; ++i)
    expected += "2013/04/05 14:07:08:250  line " + std::to_string(i) + "\n";
  EXPECT_EQ(readFile(platform::Paths::join(folder_, names[0])), expected);
}

TEST_F(LGFileLoggerTest, WithoutAManagerFilesGoToLogsUnderTheCaches) {
  auto logger = LGFileLogger::create();
  LGLog::addLogger(logger);
  logtest::logText(false, LG_LOG_FLAG_INFO, "default place");
  std::string folder = platform::Paths::join(platform::Paths::caches(), "Logs");
  EXPECT_EQ(logger->logFileManager()->logsDirectory(), folder);
  auto names = testsupport::filesIn(folder);
  ASSERT_EQ(names.size(), 1u);
  EXPECT_NE(readFile(platform::Paths::join(folder, names[0])).find("  default place\n"),
            std::string::npos);
  EXPECT_EQ(logger->loggerQueue()->label(), "logging.fileLogger");
}

TEST_F(LGFileLoggerTest, TheWriteThatReachesTheMaximumSizeRollsTheFile) {
  auto logger = attachNewLogger();
  logger->setMaximumFileSize(100);
  // Each line is 23 (date) + 2 + 10 + 1 = 36 bytes: the third brings the file to 108.
  for (int i = 0; i < 4; ++i)
    logtest::logText(false, LG_LOG_FLAG_INFO, "message-" + std::to_string(10 + i));
  ASSERT_TRUE(manager_->waitForRolls(1));
  auto all = files();
  ASSERT_EQ(all.size(), 2u);
  auto active = activeFile();
  ASSERT_TRUE(active);
  for (auto& info : all) {
    std::string text = readFile(info->filePath());
    if (info->filePath() == active->filePath()) {
      EXPECT_EQ(lineCount(text), 1);
      EXPECT_NE(text.find("message-13"), std::string::npos);
    } else {
      EXPECT_TRUE(info->isArchived());
      EXPECT_EQ(text.size(), 108u);
    }
  }
}

TEST_F(LGFileLoggerTest, SixArchivedFilesAndANewOneLeaveFiveArchivedAndTheNewOne) {
  for (int i = 1; i <= 6; ++i) makeFile("log-00000" + std::to_string(i) + ".txt", true);
  std::string created = manager_->createNewLogFile();
  auto names = manager_->unsortedLogFileNames();
  EXPECT_EQ(names.size(), 6u);
  EXPECT_FALSE(exists(platform::Paths::join(folder_, "log-000001.txt")));
  EXPECT_TRUE(exists(created));
  EXPECT_FALSE(LGLogFileInfo(created).isArchived());
}

TEST_F(LGFileLoggerTest, AFileBeingWrittenIsNeverDeletedWhateverItsDate) {
  // An active file older than every archived one: a pass that only set aside the newest file
  // would delete it with its lines.
  std::string active = makeFile("log-000000.txt", false, "kept\n");
  for (int i = 1; i <= 4; ++i) makeFile("log-00000" + std::to_string(i) + ".txt", true);
  manager_->setMaximumNumberOfLogFiles(2);
  LGLog::loggingQueue()->sync([] {});
  EXPECT_EQ(readFile(active), "kept\n");
  auto names = manager_->sortedLogFileNames();
  EXPECT_EQ(names.size(), 3u);
  EXPECT_TRUE(exists(platform::Paths::join(folder_, "log-000004.txt")));
  EXPECT_TRUE(exists(platform::Paths::join(folder_, "log-000003.txt")));
}

TEST_F(LGFileLoggerTest, SortingIsNewestFirstAndTheSameOnEveryListing) {
  for (int i = 1; i <= 5; ++i) makeFile("log-00000" + std::to_string(i) + ".txt", true);
  auto names = manager_->sortedLogFileNames();
  EXPECT_EQ(names, (std::vector<std::string>{"log-000005.txt", "log-000004.txt", "log-000003.txt",
                                             "log-000002.txt", "log-000001.txt"}));
  EXPECT_EQ(manager_->sortedLogFileNames(), names);
  std::vector<std::string> paths;
  for (const auto& name : names) paths.push_back(platform::Paths::join(folder_, name));
  EXPECT_EQ(manager_->sortedLogFilePaths(), paths);
}

TEST_F(LGFileLoggerTest, ADeletePassKeepsTheNewestArchivedFilesAndEveryOtherFile) {
  std::string active = makeFile("log-00000A.txt", false, "kept\n");
  std::string foreign = makeFile("notes.txt", true);
  for (int i = 1; i <= 8; ++i) makeFile("log-00000" + std::to_string(i) + ".txt", true);
  const std::set<std::string> expected = {"log-00000A.txt", "log-000004.txt", "log-000005.txt",
                                          "log-000006.txt", "log-000007.txt", "log-000008.txt"};
  manager_->deleteOldLogFiles();  // the default maximum: five archived files
  auto names = manager_->unsortedLogFileNames();
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), expected);
  EXPECT_EQ(readFile(active), "kept\n");
  EXPECT_TRUE(exists(foreign));   // not a log file: never the manager's to delete
  manager_->deleteOldLogFiles();  // nothing more to do
  EXPECT_EQ(manager_->unsortedLogFileNames().size(), expected.size());
}

TEST_F(LGFileLoggerTest, WithoutAFolderTheManagerKeepsLogsInTheCurrentHomesCaches) {
  const std::string folder = LGLogFileManagerDefault::defaultLogsDirectory();
  EXPECT_EQ(folder, platform::Paths::join(platform::Paths::caches(), "Logs"));
  EXPECT_EQ(folder.rfind(home_.path() + "/", 0), 0u);
  auto manager = LGLogFileManagerDefault::create();
  EXPECT_EQ(manager->logsDirectory(), folder);
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  std::string made = manager->createNewLogFile();
  EXPECT_EQ(made.rfind(folder + "/log-", 0), 0u) << made;
  EXPECT_TRUE(exists(made));
}

TEST_F(LGFileLoggerTest, AMaximumOfZeroNeverDeletesAndAnUnchangedMaximumRunsNoPass) {
  for (int i = 1; i <= 8; ++i) makeFile("log-00000" + std::to_string(i) + ".txt", true);
  manager_->setMaximumNumberOfLogFiles(5);  // the value it has
  LGLog::loggingQueue()->sync([] {});
  EXPECT_EQ(manager_->unsortedLogFileNames().size(), 8u);
  manager_->setMaximumNumberOfLogFiles(0);
  LGLog::loggingQueue()->sync([] {});
  manager_->createNewLogFile();
  EXPECT_EQ(manager_->unsortedLogFileNames().size(), 9u);
  manager_->setMaximumNumberOfLogFiles(3);
  LGLog::loggingQueue()->sync([] {});
  EXPECT_EQ(manager_->unsortedLogFileNames().size(), 4u);  // three archived and the active one
}

TEST_F(LGFileLoggerTest, ARestartedLoggerAppendsToTheNewestActiveFile) {
  {
    // A first run that ends without detaching: its file stays active.
    auto first = LGFileLogger::create(manager_);
    first->loggerQueue()->sync([&] {
      for (const char* text : {"one", "two"}) {
        first->logMessage(LGLogMessage(text, 7, 4, 0, nullptr, nullptr, 0, nullptr, 0));
      }
    });
  }
  auto second = attachNewLogger();
  logtest::logText(false, LG_LOG_FLAG_INFO, "three");
  auto all = files();
  ASSERT_EQ(all.size(), 1u);
  std::string text = readFile(all[0]->filePath());
  EXPECT_EQ(lineCount(text), 3);
  EXPECT_NE(text.find("  three\n"), std::string::npos);
}

TEST_F(LGFileLoggerTest, ARestartedLoggerArchivesANewestFileOverItsLimit) {
  std::string old = makeFile("log-0000AA.txt", false, std::string(200, 'x') + "\n");
  auto logger = LGFileLogger::create(manager_);
  logger->setMaximumFileSize(100);
  LGLog::addLogger(logger);
  logtest::logText(false, LG_LOG_FLAG_INFO, "fresh");
  EXPECT_TRUE(LGLogFileInfo(old).isArchived());
  EXPECT_EQ(manager_->archived(), std::vector<std::string>{old});
  auto active = activeFile();
  ASSERT_TRUE(active);
  EXPECT_NE(active->filePath(), old);
  EXPECT_NE(readFile(active->filePath()).find("  fresh\n"), std::string::npos);
}

TEST_F(LGFileLoggerTest, RecognisesLogFileNames) {
  struct Case {
    const char* name;
    bool isLogFile;
  } cases[] = {
      {"log-12AB3F.txt", true},   {"log-12AB3F.log", true},
      {"log-12AB3F", true},       {"log-ABCDEF0.txt", true},
      {"log-12AB3Z.txt", false},  {"log-12ab3f.txt", false},
      {"log-12AB3", false},       {"xog-12AB3F.txt", false},
      {"Log-12AB3F.txt", false},  {"", false},
      {"log-12 AB3F.txt", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LGLogFileManagerDefault::isLogFile(c.name), c.isLogFile) << c.name;
  }
  std::string uuid = LGLogFileManagerDefault::generateShortUUID();
  EXPECT_TRUE(std::regex_match(uuid, std::regex("[0-9A-F]{6}")));
}

TEST_F(LGFileLoggerTest, AFileRollsWhenItsAgeIsReachedOnTheClock) {
  platform::ScopedManualClock clock;
  clock->setDate(std::chrono::system_clock::now());
  auto logger = LGFileLogger::create(manager_);
  logger->setRollingFrequency(60);
  LGLog::addLogger(logger);
  logtest::logText(false, LG_LOG_FLAG_INFO, "young");
  EXPECT_EQ(files().size(), 1u);
  clock->advanceSeconds(61);
  ASSERT_TRUE(manager_->waitForRolls(1));
  // A new file is born at the file system's time, 61 s behind the moved clock, so it would be
  // over this age at once and its timer could roll it before the test looks: give it longer.
  logger->setRollingFrequency(3600);
  logtest::logText(false, LG_LOG_FLAG_INFO, "after the roll");
  auto all = files();
  ASSERT_EQ(all.size(), 2u);
  // Both files may share one file-system time tick, so tell them apart by their mark, not order.
  auto active = all[0]->isArchived() ? all[1] : all[0];
  auto archived = all[0]->isArchived() ? all[0] : all[1];
  EXPECT_FALSE(active->isArchived());
  EXPECT_TRUE(archived->isArchived());
  EXPECT_NE(readFile(active->filePath()).find("after the roll"), std::string::npos);
  EXPECT_NE(readFile(archived->filePath()).find("young"), std::string::npos);
}

TEST_F(LGFileLoggerTest, AFileRollsWhenTheClockStandsExactlyAtItsRollTime) {
  // 1.001 seconds is 1000999999 nanoseconds once made a duration: judged by its age in floating
  // seconds, the file would still be young when its timer fires, and the timer would fire again
  // at once, without end.
  const double frequency = 1.001;
  platform::ScopedManualClock clock;
  clock->setDate(std::chrono::system_clock::now());
  auto logger = LGFileLogger::create(manager_);
  logger->setRollingFrequency(frequency);
  LGLog::addLogger(logger);
  logtest::logText(false, LG_LOG_FLAG_INFO, "young");
  auto created = activeFile()->creationDate();
  ASSERT_TRUE(created);
  auto rollTime =
      *created + std::chrono::duration_cast<platform::Date::duration>(platform::seconds(frequency));
  // Timers run on the clock's steady reading, which `advance` moves along with the date.
  clock->advance(std::chrono::duration_cast<platform::Duration>(rollTime - clock->now()));
  ASSERT_TRUE(manager_->waitForRolls(1));
}

TEST_F(LGFileLoggerTest, AFileWithoutACreationDateGetsNoAgeTimer) {
  auto logger = LGFileLogger::create(manager_);
  logger->setRollingFrequency(0);
  LGLog::addLogger(logger);
  logtest::logText(false, LG_LOG_FLAG_INFO, "written");
  std::string path = activeFile()->filePath();
  // The file vanishes before its date was ever read: its age cannot be known.
  ASSERT_EQ(unlink(path.c_str()), 0);
  logger->setRollingFrequency(10);
  logtest::drain(logger->loggerQueue());
  bool hasTimer = true;
  logger->loggerQueue()->sync([&] { hasTimer = logger->hasRollingTimer(); });
  EXPECT_FALSE(hasTimer);
  EXPECT_FALSE(LGLogFileInfo(path).creationDate());
  EXPECT_EQ(LGLogFileInfo(path).age(), 0);

  // With a readable date, the same change sets the timer.
  logger->rollLogFile();
  logtest::logText(false, LG_LOG_FLAG_INFO, "next file");
  logger->loggerQueue()->sync([&] { hasTimer = logger->hasRollingTimer(); });
  EXPECT_TRUE(hasTimer);
}

TEST_F(LGFileLoggerTest, RollingWithNoFileOpenDoesNothing) {
  auto logger = attachNewLogger();
  logger->rollLogFile();
  logtest::drain(logger->loggerQueue());
  EXPECT_TRUE(manager_->unsortedLogFileNames().empty());
}

TEST_F(LGFileLoggerTest, SettingsFromTheLoggingQueueOrTheLoggersQueueFail) {
  auto logger = LGFileLogger::create(manager_);
  std::string onLogging, onOwn;
  LGLog::loggingQueue()->sync(
      [&] { onLogging = logtest::failureText([&] { logger->maximumFileSize(); }); });
  logger->loggerQueue()->sync(
      [&] { onOwn = logtest::failureText([&] { logger->setRollingFrequency(5); }); });
  EXPECT_EQ(onLogging, "Core architecture requirement failure");
  EXPECT_EQ(onOwn, "MUST access ivar directly, NOT via self.* syntax.");
  EXPECT_EQ(logger->rollingFrequency(), 86400);
}

TEST_F(LGFileLoggerTest, WithoutUserAttributesArchivedFilesAreMarkedByNameAndKeptToTheLimit) {
  LGLogFileInfo::ScopedNoExtendedAttributes noAttributes;
  // A newest file left active and over the size limit by an earlier run.
  std::string old = makeFile("log-0000AA.txt", false, std::string(200, 'x') + "\n");
  manager_->setMaximumNumberOfLogFiles(3);
  auto logger = LGFileLogger::create(manager_);
  logger->setMaximumFileSize(100);
  LGLog::addLogger(logger);
  // Three 36-byte lines fill a file: 40 messages roll 13 times.
  for (int i = 0; i < 40; ++i) {
    logtest::logText(false, LG_LOG_FLAG_INFO, "message-" + std::to_string(10 + i));
  }
  EXPECT_EQ(manager_->archived(),
            std::vector<std::string>{platform::Paths::join(folder_, "log-0000AA.archived.txt")});
  ASSERT_TRUE(manager_->waitForRolls(13));
  auto all = files();
  EXPECT_EQ(all.size(), 4u);  // three archived and the active one
  int active = 0;
  for (auto& info : all) {
    if (!info->isArchived()) {
      ++active;
      EXPECT_NE(readFile(info->filePath()).find("message-49"), std::string::npos);
    } else {
      EXPECT_TRUE(
          std::regex_match(info->fileName(), std::regex("log-[0-9A-F]{6}\\.archived\\.txt")))
          << info->fileName();
    }
  }
  EXPECT_EQ(active, 1);
}

TEST_F(LGFileLoggerTest, QueueOnlyOperationsOffTheQueueFailInDebugBuilds) {
#ifdef NDEBUG
  GTEST_SKIP() << "checked in debug builds only";
#endif
  auto logger = LGFileLogger::create(manager_);
  EXPECT_THROW(logger->currentLogFileInfo(), platform::AssertionFailure);
  EXPECT_THROW(logger->rollLogFileNow(), platform::AssertionFailure);
  EXPECT_TRUE(manager_->unsortedLogFileNames().empty());
  logger->loggerQueue()->sync([&] { EXPECT_NO_THROW(logger->rollLogFileNow()); });
}

class DroppingFormatter : public LGLogFormatter {
 public:
  LGLogText formatLogMessage(const LGLogMessage& message) override {
    if (message.logMsg() == "drop") return nullptr;
    return std::make_shared<const std::string>("[" + message.logMsg() + "]");
  }
};

TEST_F(LGFileLoggerTest, AFormatterMakesTheLineOrDropsTheMessage) {
  auto logger = attachNewLogger();
  logger->setLogFormatter(std::make_shared<DroppingFormatter>());
  for (const char* text : {"keep", "drop", "also"}) logtest::logText(false, LG_LOG_FLAG_INFO, text);
  EXPECT_EQ(readFile(activeFile()->filePath()), "[keep]\n[also]\n");
}

TEST_F(LGFileLoggerTest, DefaultLinesCarryTheMillisecondsOfEachMessageAcrossSeconds) {
  using std::chrono::milliseconds;
  platform::ScopedManualClock clock;
  const platform::Date second = platform::dateFromSeconds(1365142028);  // 06:07:08 UTC
  struct Case {
    platform::Date when;
    const char* line;
  };
  const Case cases[] = {
      {second + milliseconds(250), "2013/04/05 14:07:08:250  a"},
      {second + milliseconds(999), "2013/04/05 14:07:08:999  b"},
      {second + milliseconds(1001), "2013/04/05 14:07:09:001  c"},
      {second, "2013/04/05 14:07:08:000  d"},  // back to an earlier second
      {platform::dateFromSeconds(0) - milliseconds(500), "1970/01/01 07:59:59:500  e"},
  };
  auto logger = attachNewLogger();
  std::string expected;
  for (const auto& c : cases) {
    clock->setDate(c.when);
    std::string line = c.line;
    logtest::logText(false, LG_LOG_FLAG_INFO, line.substr(line.size() - 1));
    expected += line + "\n";
  }
  EXPECT_EQ(readFile(activeFile()->filePath()), expected);
}

TEST_F(LGFileLoggerTest, AFormatterChangeTakesEffectBetweenTheMessagesQueuedAroundIt) {
  platform::ScopedManualClock clock;
  clock->setDate(platform::dateFromSeconds(1365142028.25));
  auto logger = attachNewLogger();
  logtest::logText(true, LG_LOG_FLAG_INFO, "before");
  logger->setLogFormatter(std::make_shared<DroppingFormatter>());
  logtest::logText(true, LG_LOG_FLAG_INFO, "after");
  logtest::logText(false, LG_LOG_FLAG_INFO, "last");
  EXPECT_EQ(readFile(activeFile()->filePath()),
            "2013/04/05 14:07:08:250  before\n[after]\n[last]\n");
}

}  // namespace
