#include <gtest/gtest.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "logging/LGFileLogger.h"
#include "logging/LGLogFileManagerDefault.h"
#include "logging/LoggingTestSupport.h"
#include "platform/foundation/Assert.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Paths.h"
#include "support/TempHome.h"

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

int lineCount(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

// A file manager that tells when a file has been rolled.
class WatchedManager : public LGLogFileManagerDefault {
 public:
  using LGLogFileManagerDefault::LGLogFileManagerDefault;
  bool answersArchiveNotifications() const override { return true; }
  void didRollAndArchiveLogFile(const std::string& path) override {
    std::lock_guard<std::mutex> lock(mutex_);
    rolled_.push_back(path);
    cv_.notify_all();
  }
  void didArchiveLogFile(const std::string& path) override {
    std::lock_guard<std::mutex> lock(mutex_);
    archived_.push_back(path);
  }
  bool waitForRolls(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(30), [&] { return rolled_.size() >= count; });
  }
  std::vector<std::string> archived() {
    std::lock_guard<std::mutex> lock(mutex_);
    return archived_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<std::string> rolled_, archived_;
};

class LGFileLoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "CST-8", 1);
    tzset();
    folder_ = platform::Paths::join(home_.path(), "Logs");
    manager_ = std::make_shared<WatchedManager>(folder_);
  }
  void TearDown() override { logtest::detachAll(); }

  std::shared_ptr<LGFileLogger> attachNewLogger() {
    auto logger = std::make_shared<LGFileLogger>(manager_);
    LGLog::addLogger(logger);
    return logger;
  }
  // Makes a log file directly, archived or not.
  std::string makeFile(const std::string& name, bool archived, const std::string& text = "") {
    std::filesystem::create_directories(folder_);
    std::string path = platform::Paths::join(folder_, name);
    std::ofstream(path) << text;
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

TEST_F(LGFileLoggerTest, DefaultFolderIsLogsUnderTheCaches) {
  EXPECT_EQ(LGLogFileManagerDefault::defaultLogsDirectory(),
            platform::Paths::join(platform::Paths::caches(), "Logs"));
  EXPECT_EQ(LGFileLogger().loggerName(), "logging.fileLogger");
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
  EXPECT_EQ(logger->maximumFileSize(), 100u);
}

TEST_F(LGFileLoggerTest, SixArchivedFilesAndANewOneLeaveFiveArchivedAndTheNewOne) {
  for (int i = 1; i <= 6; ++i) makeFile("log-00000" + std::to_string(i) + ".txt", true);
  std::string created = manager_->createNewLogFile();
  auto names = manager_->unsortedLogFileNames();
  EXPECT_EQ(names.size(), 6u);
  EXPECT_FALSE(std::filesystem::exists(platform::Paths::join(folder_, "log-000001.txt")));
  EXPECT_TRUE(std::filesystem::exists(created));
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
  EXPECT_TRUE(std::filesystem::exists(platform::Paths::join(folder_, "log-000004.txt")));
  EXPECT_TRUE(std::filesystem::exists(platform::Paths::join(folder_, "log-000003.txt")));
}

TEST_F(LGFileLoggerTest, SortingIsNewestFirstAndTheSameOnEveryListing) {
  for (int i = 1; i <= 5; ++i) makeFile("log-00000" + std::to_string(i) + ".txt", true);
  auto names = manager_->sortedLogFileNames();
  EXPECT_EQ(names, (std::vector<std::string>{"log-000005.txt", "log-000004.txt", "log-000003.txt",
                                             "log-000002.txt", "log-000001.txt"}));
  EXPECT_EQ(manager_->sortedLogFileNames(), names);
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
    auto first = std::make_shared<LGFileLogger>(manager_);
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
  auto logger = std::make_shared<LGFileLogger>(manager_);
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
  auto logger = std::make_shared<LGFileLogger>(manager_);
  logger->setRollingFrequency(60);
  LGLog::addLogger(logger);
  logtest::logText(false, LG_LOG_FLAG_INFO, "young");
  EXPECT_EQ(files().size(), 1u);
  clock->advanceSeconds(61);
  ASSERT_TRUE(manager_->waitForRolls(1));
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
  auto logger = std::make_shared<LGFileLogger>(manager_);
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
  auto logger = std::make_shared<LGFileLogger>(manager_);
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
  auto logger = std::make_shared<LGFileLogger>(manager_);
  std::string onLogging, onOwn;
  LGLog::loggingQueue()->sync([&] {
    try {
      logger->maximumFileSize();
    } catch (const platform::AssertionFailure& f) {
      onLogging = f.what();
    }
  });
  logger->loggerQueue()->sync([&] {
    try {
      logger->setRollingFrequency(5);
    } catch (const platform::AssertionFailure& f) {
      onOwn = f.what();
    }
  });
  EXPECT_EQ(onLogging, "Core architecture requirement failure");
  EXPECT_EQ(onOwn, "MUST access ivar directly, NOT via self.* syntax.");
  EXPECT_EQ(logger->rollingFrequency(), 86400);
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

}  // namespace
