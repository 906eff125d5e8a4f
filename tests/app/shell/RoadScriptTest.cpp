// Reading a learner's road: every step form, the comments and blanks around them, and a table of
// lines that are no step, each refused with its line before anything runs.

#include <gtest/gtest.h>

#include "shell/RoadScript.h"
#include "support/Files.h"
#include "support/TempHome.h"

namespace {

using Kind = RoadStep::Target::Kind;
using Verb = RoadStep::Verb;

RoadStep only(const std::string& line) {
  std::string error;
  auto script = RoadScript::parse(line, &error);
  EXPECT_TRUE(script) << line << ": " << error;
  if (!script) return {};
  EXPECT_EQ(script->steps().size(), 1u);
  return script->steps().front();
}

TEST(RoadScriptTest, ReadsEveryStepForm) {
  auto tap = only("tap \"北京市\"");
  EXPECT_EQ(tap.verb, Verb::Tap);
  ASSERT_TRUE(tap.target);
  EXPECT_EQ(tap.target->kind, Kind::Text);
  EXPECT_EQ(tap.target->text, "北京市");

  auto tag = only("tap #12");
  ASSERT_TRUE(tag.target);
  EXPECT_EQ(tag.target->kind, Kind::Tag);
  EXPECT_EQ(tag.target->tag, 12);
  EXPECT_EQ(tag.target->describe(), "#12");

  auto picture = only("tap @btn_logout");
  EXPECT_EQ(picture.target->kind, Kind::Picture);
  EXPECT_EQ(picture.target->text, "btn_logout");
  EXPECT_EQ(picture.target->describe(), "@btn_logout");

  auto byClass = only("tap %MirelTabBar");
  EXPECT_EQ(byClass.target->kind, Kind::Class);
  EXPECT_EQ(byClass.target->text, "MirelTabBar");
  EXPECT_EQ(byClass.target->describe(), "%MirelTabBar");

  auto type = only("type \"密    码：\" \"say \\\"hi\\\" \\\\ there\"");
  EXPECT_EQ(type.verb, Verb::Type);
  EXPECT_EQ(type.target->text, "密    码：");
  EXPECT_EQ(type.text, "say \"hi\" \\ there");

  auto select = only("select 1 2");
  EXPECT_EQ(select.verb, Verb::Select);
  EXPECT_EQ(select.section, 1);
  EXPECT_EQ(select.row, 2);
  EXPECT_FALSE(select.target);
  EXPECT_EQ(only("select 0 3 #7").target->tag, 7);

  EXPECT_EQ(only("answer 1").buttonIndex, 1);
  auto byTitle = only("answer \"确定\"");
  EXPECT_FALSE(byTitle.buttonIndex);
  EXPECT_EQ(byTitle.text, "确定");

  EXPECT_DOUBLE_EQ(only("advance 10.5").seconds, 10.5);

  auto waitText = only("wait \"企业会计准则解读\"");
  EXPECT_EQ(waitText.verb, Verb::WaitText);
  EXPECT_DOUBLE_EQ(waitText.seconds, RoadScript::kDefaultWaitSeconds);
  auto waitNote = only("wait notification cell_finish 60");
  EXPECT_EQ(waitNote.verb, Verb::WaitNotification);
  EXPECT_EQ(waitNote.text, "cell_finish");
  EXPECT_DOUBLE_EQ(waitNote.seconds, 60);

  auto scroll = only("scroll 1920 0");
  EXPECT_EQ(scroll.verb, Verb::Scroll);
  EXPECT_DOUBLE_EQ(scroll.x, 1920);
  EXPECT_DOUBLE_EQ(scroll.y, 0);

  auto frame = only("frame @c-2-1 0 431 320 49.5");
  EXPECT_EQ(frame.verb, Verb::Frame);
  EXPECT_EQ(frame.target->text, "c-2-1");
  EXPECT_DOUBLE_EQ(frame.x, 0);
  EXPECT_DOUBLE_EQ(frame.y, 431);
  EXPECT_DOUBLE_EQ(frame.width, 320);
  EXPECT_DOUBLE_EQ(frame.height, 49.5);

  auto snapshot = only("snapshot \"the guide\"");
  EXPECT_EQ(snapshot.verb, Verb::Snapshot);
  EXPECT_EQ(snapshot.text, "the guide");
}

TEST(RoadScriptTest, KeepsLinesAndSourcesAndSkipsCommentsAndBlanks) {
  std::string error;
  auto script = RoadScript::parse(
      "# the road\n\n   tap @begin   \r\n\t# indented comment\nwait notification STARTDOWN\n"
      "wait notification STARTDOWN\nwait notification cell_finish\n",
      &error);
  ASSERT_TRUE(script) << error;
  ASSERT_EQ(script->steps().size(), 4u);
  EXPECT_EQ(script->steps()[0].line, 3);
  EXPECT_EQ(script->steps()[0].source, "tap @begin");
  EXPECT_EQ(script->steps()[1].line, 5);
  EXPECT_EQ(script->awaitedNotifications(), (std::vector<std::string>{"STARTDOWN", "cell_finish"}));
}

TEST(RoadScriptTest, RefusesLinesThatAreNoStepNamingTheLine) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"", "the script has no steps"},
      {"# only a comment\n", "the script has no steps"},
      {"fly away", "line 1: unknown step \"fly\""},
      {"tap", "line 1: usage: tap TARGET"},
      {"tap 北京市", "line 1: \"北京市\" is no target"},
      {"tap \"\"", "line 1: \"\" is no target"},
      {"tap #", "line 1: \"#\" is no target"},
      {"tap #x1", "line 1: \"#x1\" is no target"},
      {"tap @", "line 1: \"@\" is no target"},
      {"tap %", "line 1: \"%\" is no target"},
      {"tap \"a\" \"b\"", "line 1: usage: tap TARGET"},
      {"tap \"open", "line 1: a quoted text is not closed"},
      {"tap \"a\\n\"", "line 1: only \\\" and \\\\ may be escaped"},
      {"tap \"a\"b", "line 1: a quoted text must be followed by a blank"},
      {"\"tap\" @x", "line 1: a step starts with its verb"},
      {"type \"用户名：\" zhang", "line 1: usage: type TARGET \"text\""},
      {"select 1", "line 1: usage: select SECTION ROW"},
      {"select -1 0", "line 1: usage: select SECTION ROW"},
      {"select 0 x", "line 1: usage: select SECTION ROW"},
      {"answer", "line 1: usage: answer INDEX"},
      {"answer -1", "line 1: usage: answer INDEX"},
      {"answer yes", "line 1: usage: answer INDEX"},
      {"advance", "line 1: usage: advance SECONDS"},
      {"advance -3", "line 1: usage: advance SECONDS"},
      {"advance nan", "line 1: usage: advance SECONDS"},
      {"advance 1e999", "line 1: usage: advance SECONDS"},
      {"wait", "line 1: usage: wait \"text\""},
      {"wait text", "line 1: usage: wait \"text\""},
      {"wait \"x\" 0", "line 1: the wait limit must be a number of seconds above 0"},
      {"wait notification", "line 1: usage: wait notification NAME"},
      {"wait notification a 1 2", "line 1: usage: wait notification NAME"},
      {"scroll 10", "line 1: usage: scroll X Y"},
      {"frame @bar 0 431 320", "line 1: usage: frame TARGET X Y WIDTH HEIGHT"},
      {"frame @bar 0 431 -320 49", "line 1: usage: frame TARGET X Y WIDTH HEIGHT"},
      {"frame 0 431 320 49 50", "line 1: \"0\" is no target"},
      {"snapshot plain", "line 1: usage: snapshot \"caption\""},
      {"tap @begin\n\n# fine so far\nadvance soon", "line 4: usage: advance SECONDS"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::string error;
    EXPECT_FALSE(RoadScript::parse(c.text, &error));
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
  }
}

TEST(RoadScriptTest, LoadsAFileAndNamesOneThatCannotBeRead) {
  testsupport::TempHome home;
  const std::string path = home.path() + "/road.txt";
  testsupport::writeFile(path, "tap @begin\nanswer 0\n");
  std::string error;
  auto script = RoadScript::load(path, &error);
  ASSERT_TRUE(script) << error;
  EXPECT_EQ(script->steps().size(), 2u);

  EXPECT_FALSE(RoadScript::load(home.path() + "/missing.road", &error));
  EXPECT_EQ(error, "cannot read the script " + home.path() + "/missing.road");
}

TEST(RoadScriptTest, TheBundledRoadReads) {
  std::string error;
  auto script =
      RoadScript::load(testsupport::sourceDir() + "/resources/roads/learner.road", &error);
  ASSERT_TRUE(script) << error;
  EXPECT_GT(script->steps().size(), 10u);
}

}  // namespace
