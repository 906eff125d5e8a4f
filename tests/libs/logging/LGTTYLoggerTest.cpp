#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "logging/LGTTYLogger.h"
#include "logging/LoggingTestSupport.h"
#include "platform/foundation/Assert.h"
#include "platform/foundation/Clock.h"

namespace {

const std::string kEsc = "\x1b";

class LGTTYLoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "CST-8", 1);
    tzset();
    tty_ = LGTTYLogger::sharedInstance();
    LGLog::addLogger(tty_);
  }
  void TearDown() override {
    logtest::detachAll();
    LGTTYLogger::initializeWithEnvironment(std::nullopt, std::nullopt);
    tty_->setLogFormatter(nullptr);
    tty_->clearAllColors();
    tty_->setColorsEnabled(false);
    logtest::drain(tty_->loggerQueue());
  }
  // Sets the terminal up and starts from the default colour profiles with colours on.
  void useTerminal(std::optional<std::string> term, std::optional<std::string> consoleColors) {
    LGTTYLogger::initializeWithEnvironment(term, consoleColors);
    tty_->clearAllColors();
    tty_->setColorsEnabled(true);
    logtest::drain(tty_->loggerQueue());
  }
  // What one synchronous message writes to standard error.
  std::string lineFor(int flag, const std::string& text, int context = 0,
                      const platform::Value& tag = nullptr) {
    logtest::StderrCapture capture;
    LGLog::log(false, LG_LOG_LEVEL_INFO, flag, context, __FILE__, __func__, __LINE__, tag, "%s",
               text.c_str());
    return capture.finish();
  }

  std::shared_ptr<LGTTYLogger> tty_;
};

TEST_F(LGTTYLoggerTest, WritesAPrefixedLineWithoutColours) {
  platform::ScopedManualClock clock;
  clock->setDate(platform::dateFromSeconds(1365142028.25));  // 2013-04-05 06:07:08.250 UTC
  char thread[16];
  std::snprintf(thread, sizeof thread, "%x", static_cast<unsigned>(syscall(SYS_gettid)));
  std::string expected = std::string("2013-04-05 14:07:08:250 ") + program_invocation_short_name +
                         "[" + std::to_string(getpid()) + ":" + thread + "] hello\n";
  EXPECT_EQ(lineFor(LG_LOG_FLAG_ERROR, "hello"), expected);
  EXPECT_EQ(lineFor(LG_LOG_FLAG_ERROR, "hello\n"), expected);
  EXPECT_EQ(tty_->loggerName(), "logging.ttyLogger");
}

TEST_F(LGTTYLoggerTest, WritesALongTextWhole) {
  std::string text(5000, 'a');
  text += "\xe4\xb8\xad";  // UTF-8 beyond ASCII
  std::string line = lineFor(LG_LOG_FLAG_INFO, text);
  ASSERT_GE(line.size(), text.size() + 1);
  EXPECT_EQ(line.substr(line.size() - text.size() - 1), text + "\n");
}

TEST_F(LGTTYLoggerTest, AColourConsoleGetsRgbEscapesForTheDefaultProfiles) {
  useTerminal(std::nullopt, "YES");
  std::string error = lineFor(LG_LOG_FLAG_ERROR, "bad");
  EXPECT_EQ(error.rfind(kEsc + "[fg214,57,30;", 0), 0u) << error;
  EXPECT_EQ(error.substr(error.size() - 4), "\n" + kEsc + "[;");
  std::string warning = lineFor(LG_LOG_FLAG_WARN, "odd");
  EXPECT_EQ(warning.rfind(kEsc + "[fg204,121,32;", 0), 0u) << warning;
  // Another context, or a kind without a profile, gets no codes.
  EXPECT_EQ(lineFor(LG_LOG_FLAG_ERROR, "server", 80).find(kEsc), std::string::npos);
  EXPECT_EQ(lineFor(LG_LOG_FLAG_INFO, "plain").find(kEsc), std::string::npos);
}

TEST_F(LGTTYLoggerTest, ColoursStayOffUntilEnabledAndOffWithoutAColourTerminal) {
  useTerminal(std::nullopt, "YES");
  tty_->setColorsEnabled(false);
  EXPECT_EQ(lineFor(LG_LOG_FLAG_ERROR, "off").find(kEsc), std::string::npos);
  useTerminal("vt100", "YES");
  EXPECT_FALSE(LGTTYLogger::isColorConsole());
  EXPECT_EQ(lineFor(LG_LOG_FLAG_ERROR, "vt100").find(kEsc), std::string::npos);
}

TEST_F(LGTTYLoggerTest, TheTerminalNameChoosesTheColourTables) {
  struct Case {
    std::optional<std::string> term;
    std::optional<std::string> consoleColors;
    std::size_t tableSize;
    bool colorTerminal, colorConsole;
  } cases[] = {
      {"xterm-256color", std::nullopt, 240, true, false},
      {"XTERM-COLOR", std::nullopt, 16, true, false},
      {"vt100", "YES", 0, false, false},
      {std::nullopt, "YES", 0, false, true},
      {std::nullopt, "yes", 0, false, false},
  };
  for (const auto& c : cases) {
    LGTTYLogger::initializeWithEnvironment(c.term, c.consoleColors);
    EXPECT_EQ(LGTTYLogger::colorTableSize(), c.tableSize) << c.term.value_or("unset");
    EXPECT_EQ(LGTTYLogger::isColorTerminal(), c.colorTerminal) << c.term.value_or("unset");
    EXPECT_EQ(LGTTYLogger::isColorConsole(), c.colorConsole) << c.term.value_or("unset");
  }
  LGTTYLogger::initializeWithEnvironment("xterm-256color", std::nullopt);
  EXPECT_EQ(LGTTYLogger::foregroundCode(0), "38;5;16m");
  EXPECT_EQ(LGTTYLogger::backgroundCode(239), "48;5;255m");
  EXPECT_EQ(LGTTYLogger::codeIndexForColor(LGColor::fromBytes(88, 51, 255)), 5u);  // number 21
  LGTTYLogger::initializeWithEnvironment("xterm-color", std::nullopt);
  EXPECT_EQ(LGTTYLogger::foregroundCode(9), "1;31m");
  EXPECT_EQ(LGTTYLogger::backgroundCode(2), "42m");
  EXPECT_EQ(LGTTYLogger::codeIndexForColor(LGColor::fromBytes(250, 60, 30)), 9u);
}

TEST_F(LGTTYLoggerTest, ASixteenColourTerminalUsesTheNearestTableCode) {
  useTerminal("xterm-color", std::nullopt);
  tty_->setForegroundColor(LGColor::fromBytes(252, 57, 31), LGColor::fromBytes(0, 0, 0),
                           LG_LOG_FLAG_INFO);
  std::string line = lineFor(LG_LOG_FLAG_INFO, "red");
  EXPECT_EQ(line.rfind(kEsc + "[1;31m" + kEsc + "[40m", 0), 0u) << line;
  EXPECT_EQ(line.substr(line.size() - 10), "] red\n" + kEsc + "[0m");
}

TEST_F(LGTTYLoggerTest, ASecondProfileForTheSameFlagReplacesTheFirstAndClearingRemovesIt) {
  useTerminal("xterm-color", std::nullopt);
  tty_->setForegroundColor(LGColor::fromBytes(194, 54, 33), std::nullopt, LG_LOG_FLAG_INFO);
  tty_->setForegroundColor(LGColor::fromBytes(37, 188, 36), std::nullopt, LG_LOG_FLAG_INFO);
  std::string line = lineFor(LG_LOG_FLAG_INFO, "green");
  EXPECT_EQ(line.rfind(kEsc + "[32m", 0), 0u) << line;
  EXPECT_EQ(line.substr(line.size() - 5), "\n" + kEsc + "[0m");
  tty_->clearColorsForFlag(LG_LOG_FLAG_INFO);
  EXPECT_EQ(lineFor(LG_LOG_FLAG_INFO, "plain").find(kEsc), std::string::npos);
}

TEST_F(LGTTYLoggerTest, ATagProfileComesFirstAndTagsMustBeCopyable) {
  useTerminal("xterm-color", std::nullopt);
  tty_->setForegroundColorForTag(LGColor::fromBytes(51, 187, 200), std::nullopt,
                                 platform::Value("net"));
  EXPECT_EQ(lineFor(LG_LOG_FLAG_ERROR, "tagged", 0, platform::Value("net")).rfind(kEsc + "[36m", 0),
            0u);
  EXPECT_EQ(lineFor(LG_LOG_FLAG_ERROR, "untagged").rfind(kEsc + "[31m", 0), 0u);
  EXPECT_THROW(tty_->setForegroundColorForTag(std::nullopt, std::nullopt, platform::Value()),
               platform::AssertionFailure);
  tty_->clearColorsForTag(platform::Value("net"));
  EXPECT_EQ(lineFor(LG_LOG_FLAG_INFO, "tagged", 0, platform::Value("net")).find(kEsc),
            std::string::npos);
}

TEST_F(LGTTYLoggerTest, ClearingAllFlagsLeavesTheTagsAndTheOtherWayRound) {
  useTerminal("xterm-color", std::nullopt);
  tty_->setForegroundColorForTag(LGColor::fromBytes(51, 187, 200), std::nullopt,
                                 platform::Value("net"));
  tty_->clearColorsForAllFlags();  // the default profiles go too
  EXPECT_EQ(lineFor(LG_LOG_FLAG_ERROR, "plain").find(kEsc), std::string::npos);
  EXPECT_EQ(lineFor(LG_LOG_FLAG_ERROR, "tagged", 0, platform::Value("net")).rfind(kEsc + "[36m", 0),
            0u);

  tty_->setForegroundColor(LGColor::fromBytes(37, 188, 36), std::nullopt, LG_LOG_FLAG_INFO);
  tty_->clearColorsForAllTags();
  EXPECT_EQ(lineFor(LG_LOG_FLAG_ERROR, "tagged", 0, platform::Value("net")).find(kEsc),
            std::string::npos);
  EXPECT_EQ(lineFor(LG_LOG_FLAG_INFO, "green").rfind(kEsc + "[32m", 0), 0u);
}

TEST_F(LGTTYLoggerTest, TheColourSwitchIsReadAndChangedOnlyFromOtherQueues) {
  std::string onLogging, onOwn;
  LGLog::loggingQueue()->sync(
      [&] { onLogging = logtest::failureText([&] { tty_->colorsEnabled(); }); });
  tty_->loggerQueue()->sync(
      [&] { onOwn = logtest::failureText([&] { tty_->setColorsEnabled(true); }); });
  EXPECT_EQ(onLogging, "Core architecture requirement failure");
  EXPECT_EQ(onOwn, "MUST access ivar directly, NOT via self.* syntax.");
  // The refused change changed nothing.
  EXPECT_FALSE(tty_->colorsEnabled());
}

class FixedFormatter : public LGLogFormatter {
 public:
  explicit FixedFormatter(bool own) : own_(own) {}
  LGLogText formatLogMessage(const LGLogMessage& message) override {
    if (own_) return message.logMsgText();
    return std::make_shared<const std::string>("<" + message.logMsg() + ">");
  }

 private:
  bool own_;
};

TEST_F(LGTTYLoggerTest, AFormattersOwnTextIsWrittenPlain) {
  tty_->setLogFormatter(std::make_shared<FixedFormatter>(false));
  EXPECT_EQ(lineFor(LG_LOG_FLAG_INFO, "x"), "<x>\n");
  tty_->setLogFormatter(std::make_shared<FixedFormatter>(true));
  std::string line = lineFor(LG_LOG_FLAG_INFO, "x");
  EXPECT_NE(line.find("] x\n"), std::string::npos) << line;
}

TEST(LGTTYLoggerColorProfileTest, ConsoleCodesAreCutAndDescribed) {
  LGTTYLogger::sharedInstance();
  LGTTYLogger::initializeWithEnvironment(std::nullopt, "YES");
  LGTTYLoggerColorProfile profile(LGColor::fromBytes(214, 57, 30), LGColor{1, 1, 1}, 1, 0);
  EXPECT_EQ(profile.fgCode(), kEsc + "[fg214,57,30;");
  EXPECT_EQ(profile.bgCode(), kEsc + "[bg255,255,255;");
  EXPECT_EQ(profile.resetCode(), kEsc + "[;");
  EXPECT_NE(profile.description().find("mask:1 ctxt:0 fg:214,57,30 bg:255,255,255"),
            std::string::npos);
  LGTTYLogger::initializeWithEnvironment(std::nullopt, std::nullopt);
}

}  // namespace
