// Property-list files in the Documents folder: written in the binary format, read back, refused
// values leaving the old file alone, removal, and background writes landing in order.

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyListSerialization.h"
#include "support/Files.h"
#include "support/MainLoop.h"
#include "support/TempHome.h"
#include "tagmanager/TagLogRecorder.h"
#include "tagmanager/base/TAGPropertyListUtil.h"

namespace {

using platform::Array;
using platform::Bytes;
using platform::Dictionary;
using platform::Value;
using testsupport::TagLogRecorder;

TEST(TAGPropertyListUtilTest, FilesLiveInDocumentsUnderTheirName) {
  testsupport::TempHome home;
  EXPECT_EQ(TAGPropertyListUtil::plistFilePath("ClickReferrer"),
            platform::Paths::documents() + "/ClickReferrer");
}

TEST(TAGPropertyListUtilTest, EverySupportedTypeIsWrittenInTheBinaryFormatAndReadBack) {
  testsupport::TempHome home;
  TagLogRecorder log;
  Value list(Dictionary{
      {"text", Value("conv=123&src=abc")},
      {"unicode", Value("点击")},
      {"integer", Value(-12)},
      {"real", Value(0.25)},
      {"flag", Value(true)},
      {"date", Value(platform::dateFromSeconds(1400000000.0))},
      {"data", Value(Bytes{1, 2, 3})},
      {"list", Value(Array{Value("a"), Value(Dictionary{{"k", Value(false)}})})},
  });
  ASSERT_TRUE(TAGPropertyListUtil::writePropertyList("state", list));
  EXPECT_EQ(testsupport::readFile(TAGPropertyListUtil::plistFilePath("state")).substr(0, 8),
            "bplist00");
  EXPECT_EQ(TAGPropertyListUtil::readPropertyList("state"), list);
  EXPECT_TRUE(log.lines().empty());
  // Only the file itself is left, no temporary sibling.
  EXPECT_EQ(testsupport::filesIn(platform::Paths::documents()),
            (std::vector<std::string>{"state"}));
}

TEST(TAGPropertyListUtilTest, ListsInOtherFormatsAreRead) {
  testsupport::TempHome home;
  testsupport::writeFile(TAGPropertyListUtil::plistFilePath("xml"),
                         "<plist><dict><key>a</key><string>b</string></dict></plist>");
  testsupport::writeFile(TAGPropertyListUtil::plistFilePath("text"), "{ a = b; }");
  EXPECT_EQ(TAGPropertyListUtil::readPropertyList("xml"), Value(Dictionary{{"a", Value("b")}}));
  EXPECT_EQ(TAGPropertyListUtil::readPropertyList("text"), Value(Dictionary{{"a", Value("b")}}));
}

TEST(TAGPropertyListUtilTest, ANameNeverWrittenReadsAsNothingWithADebugLineOnly) {
  testsupport::TempHome home;
  TagLogRecorder log;
  EXPECT_EQ(TAGPropertyListUtil::readPropertyList("never"), std::nullopt);
  EXPECT_EQ(log.lines(),
            (std::vector<std::string>{"debug: No plist file: " +
                                      TAGPropertyListUtil::plistFilePath("never") + " found."}));
}

TEST(TAGPropertyListUtilTest, AFileThatDoesNotReadIsLoggedWithItsFormat) {
  testsupport::TempHome home;
  TagLogRecorder log;
  testsupport::writeFile(TAGPropertyListUtil::plistFilePath("broken"), "bplist00 damaged");
  EXPECT_EQ(TAGPropertyListUtil::readPropertyList("broken"), std::nullopt);
  auto lines = log.lines("info");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("Error reading plist: ", 0), 0u);
  EXPECT_NE(lines[0].find(", format: 200"), std::string::npos);
}

TEST(TAGPropertyListUtilTest, AListTheFormatCannotHoldIsNotWrittenAndTheOldFileStays) {
  testsupport::TempHome home;
  TagLogRecorder log;
  Value old(Dictionary{{"123", Value("conv=123")}});
  ASSERT_TRUE(TAGPropertyListUtil::writePropertyList("ClickReferrer", old));
  std::string before = testsupport::readFile(TAGPropertyListUtil::plistFilePath("ClickReferrer"));

  Value withNull(Dictionary{{"123", Value("conv=123")}, {"bad", Value()}});
  EXPECT_FALSE(TAGPropertyListUtil::writePropertyList("ClickReferrer", withNull));

  EXPECT_EQ(testsupport::readFile(TAGPropertyListUtil::plistFilePath("ClickReferrer")), before);
  EXPECT_EQ(TAGPropertyListUtil::readPropertyList("ClickReferrer"), old);
  auto warnings = log.lines("warning");
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0].rfind("Failed to Write property list ClickReferrer with error ", 0), 0u);
  EXPECT_EQ(testsupport::filesIn(platform::Paths::documents()),
            (std::vector<std::string>{"ClickReferrer"}));
}

TEST(TAGPropertyListUtilTest, AFileThatCannotBeWrittenIsReportedAsAFailure) {
  testsupport::TempHome home;
  TagLogRecorder log;
  EXPECT_FALSE(TAGPropertyListUtil::writePropertyList("missing-folder/list", Value(Dictionary{})));
  EXPECT_EQ(log.lines("warning").size(), 1u);
}

TEST(TAGPropertyListUtilTest, RemovingReportsItsOutcomeAndLogsOnlyRealErrors) {
  testsupport::TempHome home;
  TagLogRecorder log;
  EXPECT_FALSE(TAGPropertyListUtil::removePropertyList("never"));
  EXPECT_TRUE(log.lines().empty());

  ASSERT_TRUE(TAGPropertyListUtil::writePropertyList("list", Value(Array{})));
  EXPECT_TRUE(TAGPropertyListUtil::removePropertyList("list"));
  EXPECT_FALSE(testsupport::exists(TAGPropertyListUtil::plistFilePath("list")));

  // A folder in the way cannot be unlinked: that is an error worth a line.
  std::filesystem::create_directory(TAGPropertyListUtil::plistFilePath("folder"));
  EXPECT_FALSE(TAGPropertyListUtil::removePropertyList("folder"));
  auto errors = log.lines("error");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].rfind("Error clearing out plist: " +
                                TAGPropertyListUtil::plistFilePath("folder") + " with error: ",
                            0),
            0u);
}

TEST(TAGPropertyListUtilTest, BackgroundWritesLandInTheOrderTheyWereAskedFor) {
  testsupport::TempHome home;
  for (int i = 1; i <= 50; ++i) {
    TAGPropertyListUtil::writePropertyListAsync("counter", Value(Dictionary{{"n", Value(i)}}));
  }
  Value last(Dictionary{{"n", Value(50)}});
  EXPECT_TRUE(testsupport::runUntil(
      [&] { return TAGPropertyListUtil::readPropertyList("counter") == last; }));
  // Nothing older can land after the newest.
  TAGPropertyListUtil::writePropertyListAsync("marker", Value(Array{}));
  EXPECT_TRUE(testsupport::runUntil(
      [] { return testsupport::exists(TAGPropertyListUtil::plistFilePath("marker")); }));
  EXPECT_EQ(TAGPropertyListUtil::readPropertyList("counter"), last);
}

}  // namespace
