#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <vector>

#include "platform/foundation/Json.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/UserDefaults.h"
#include "support/Files.h"
#include "support/TempHome.h"

using namespace platform;
using testsupport::readFile;
using testsupport::writeFile;
namespace fs = std::filesystem;

namespace {

class UserDefaultsTest : public ::testing::Test {
 protected:
  std::string file() const { return Paths::join(home_.path(), "prefs/defaults.json"); }
  testsupport::TempHome home_;
};

TEST_F(UserDefaultsTest, EveryKindOfValueSurvivesAReload) {
  Date date = Date(std::chrono::seconds(1767225600)) + std::chrono::nanoseconds(123456789);
  Dictionary values = {
      {"flag", true},
      {"count", 42},
      {"big", std::int64_t{1} << 60},
      {"ratio", 2.5},
      {"whole", 3.0},
      {"name", "\xe5\xbc\xa0\xe4\xb8\x89"},
      {"empty", ""},
      {"nothing", Value()},
      {"bytes", Bytes{0, 1, 2, 255}},
      {"date", date},
      {"list", Array{1, "two", Array{3.5}}},
      {"nested", Dictionary{{"a", 1}, {"b", Dictionary{{"c", "d"}}}}},
      // Dictionaries that read like the file's own tags stay dictionaries.
      {"looksLikeBytes", Dictionary{{"$bytes", "AAE="}}},
      {"looksLikeDate", Dictionary{{"$date", 5}}},
      {"looksLikeWrapper", Dictionary{{"$dict", Dictionary{}}}},
  };
  {
    UserDefaults defaults(file());
    for (const auto& [key, value] : values) defaults.set(key, value);
    defaults.set("object", Value::object(std::make_shared<int>(1)));
    ASSERT_TRUE(defaults.synchronize());
  }
  UserDefaults reloaded(file());
  for (const auto& [key, value] : values) {
    auto read = reloaded.object(key);
    ASSERT_TRUE(read.has_value()) << key;
    EXPECT_EQ(*read, value) << key << ": " << read->description();
  }
  EXPECT_EQ(reloaded.object("whole")->kind(), Value::Kind::Double);
  EXPECT_FALSE(reloaded.object("object").has_value());  // shared objects stay in memory
}

TEST_F(UserDefaultsTest, TypedReads) {
  UserDefaults defaults(file());
  struct Case {
    const char* key;
    Value value;
    std::string text;
    bool flag;
  };
  const Case cases[] = {
      {"absent", Value(), "", false}, {"yes", "YES", "YES", true},
      {"no", "NO", "NO", false},      {"numericText", " 12abc", " 12abc", true},
      {"true", true, "1", true},      {"integer", 7, "7", true},
      {"double", 2.75, "2.75", true}, {"bytes", Bytes{1}, "", false},
  };
  for (const auto& c : cases) {
    if (std::string(c.key) != "absent") defaults.set(c.key, c.value);
  }
  for (const auto& c : cases) {
    EXPECT_EQ(defaults.stringForKey(c.key), c.text) << c.key;
    EXPECT_EQ(defaults.boolForKey(c.key), c.flag) << c.key;
  }
  EXPECT_FALSE(defaults.object("absent").has_value());
}

TEST_F(UserDefaultsTest, RemovedKeyStaysRemovedAfterReload) {
  {
    UserDefaults defaults(file());
    defaults.set("remeberUserName_3101", true);
    defaults.set("username_3101", "learner");
    ASSERT_TRUE(defaults.synchronize());
    defaults.remove("username_3101");
    EXPECT_FALSE(defaults.object("username_3101").has_value());
    ASSERT_TRUE(defaults.synchronize());
  }
  UserDefaults reloaded(file());
  EXPECT_FALSE(reloaded.object("username_3101").has_value());
  EXPECT_TRUE(reloaded.boolForKey("remeberUserName_3101"));
}

TEST_F(UserDefaultsTest, UnsynchronizedChangesAreNotInTheFile) {
  UserDefaults defaults(file());
  defaults.set("kept", 1);
  ASSERT_TRUE(defaults.synchronize());
  defaults.set("pending", 2);
  UserDefaults reloaded(file());
  EXPECT_TRUE(reloaded.object("kept").has_value());
  EXPECT_FALSE(reloaded.object("pending").has_value());
}

// The file is replaced by a rename, never rewritten in place: a second name for the old file
// keeps the old contents whole, and no temporary file stays behind.
TEST_F(UserDefaultsTest, SynchronizeReplacesTheFileByRename) {
  UserDefaults defaults(file());
  defaults.set("version", 1);
  ASSERT_TRUE(defaults.synchronize());
  std::string before = readFile(file());
  std::string oldName = file() + ".old";
  fs::create_hard_link(file(), oldName);

  defaults.set("version", 2);
  defaults.set("padding", std::string(100000, 'x'));
  ASSERT_TRUE(defaults.synchronize());

  EXPECT_EQ(readFile(oldName), before);
  auto parsed = Json::parse(readFile(file()));
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(Json::intValue(*parsed, "version"), 2);
  fs::remove(oldName);
  EXPECT_EQ(testsupport::filesIn(fs::path(file()).parent_path().string()),
            std::vector<std::string>{"defaults.json"});
  struct stat st {};
  ASSERT_EQ(stat(file().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 077, 0u);  // remembered accounts are for the owner's eyes only
}

TEST_F(UserDefaultsTest, SynchronizeReportsAFileThatCannotBeWritten) {
  std::string blocker = Paths::join(home_.path(), "blocker");
  writeFile(blocker, "a file where a folder should be");
  UserDefaults defaults(Paths::join(blocker, "defaults.json"));
  defaults.set("a", 1);
  EXPECT_FALSE(defaults.synchronize());
  EXPECT_EQ(defaults.object("a"), Value(1));
}

TEST_F(UserDefaultsTest, UnreadableFileIsSetAsideNotOverwritten) {
  fs::create_directories(fs::path(file()).parent_path());
  // Not JSON, not an object, and nested so deep that decoding it would exhaust the stack at
  // every launch.
  const std::string unreadable[] = {
      "{ not json",
      "[1, 2]",
      R"({"k":)" + std::string(100000, '[') + std::string(100000, ']') + "}",
  };
  for (const auto& text : unreadable) {
    SCOPED_TRACE(text.substr(0, 20));
    writeFile(file(), text);
    UserDefaults defaults(file());
    EXPECT_FALSE(defaults.object("k").has_value());
    EXPECT_FALSE(testsupport::exists(file()));
    EXPECT_EQ(readFile(file() + ".corrupt"), text);
    defaults.set("fresh", true);
    ASSERT_TRUE(defaults.synchronize());
    EXPECT_TRUE(UserDefaults(file()).boolForKey("fresh"));
  }
}

// The file is read with the depth bound of outside JSON. A value that would nest deeper there
// (a dictionary that reads like a tag takes a level more) is left out of the file, so the next
// launch does not set aside everything else with it.
TEST_F(UserDefaultsTest, ValuesTooDeepForTheFileAreLeftOutAlone) {
  auto arrays = [](int depth) {
    Value v = 1;
    for (int i = 0; i < depth; ++i) v = Value(Array{v});
    return v;
  };
  auto tagLike = [](int depth) {
    Value v = 1;
    for (int i = 0; i < depth; ++i) v = Value(Dictionary{{"$date", v}});
    return v;
  };
  // The file's object is the first level, so a value may hold one level fewer.
  const Dictionary kept = {{"name", "learner"},
                           {"deepest", arrays(Json::kMaxDepth - 1)},
                           {"deepestTagLike", tagLike((Json::kMaxDepth - 1) / 2)}};
  const Dictionary tooDeep = {{"arrays", arrays(Json::kMaxDepth)},
                              {"tagLike", tagLike((Json::kMaxDepth + 1) / 2)},
                              {"deeper", arrays(Json::kMaxDepth + 40)}};
  UserDefaults defaults(file());
  for (const auto& [key, value] : kept) defaults.set(key, value);
  for (const auto& [key, value] : tooDeep) defaults.set(key, value);
  ASSERT_TRUE(defaults.synchronize());

  UserDefaults reloaded(file());
  EXPECT_FALSE(testsupport::exists(file() + ".corrupt"));
  for (const auto& [key, value] : kept) EXPECT_EQ(reloaded.object(key), value) << key;
  for (const auto& [key, value] : tooDeep) {
    EXPECT_FALSE(reloaded.object(key).has_value()) << key;
    EXPECT_TRUE(defaults.object(key).has_value()) << key;  // still there until the process ends
  }
}

// The process's defaults live in the current home folder: each test home has its own.
TEST(UserDefaultsStandardTest, FollowsTheHomeFolder) {
  UserDefaults* first = nullptr;
  {
    testsupport::TempHome home;
    first = &UserDefaults::standard();
    EXPECT_EQ(first->path(), Paths::join(Paths::preferences(), "defaults.json"));
    EXPECT_EQ(&UserDefaults::standard(), first);
    first->set("everLaunched_1.0", true);
    ASSERT_TRUE(first->synchronize());
    EXPECT_TRUE(UserDefaults(first->path()).boolForKey("everLaunched_1.0"));
  }
  testsupport::TempHome other;
  UserDefaults& second = UserDefaults::standard();
  EXPECT_NE(&second, first);
  EXPECT_EQ(second.path(), Paths::join(Paths::preferences(), "defaults.json"));
  EXPECT_FALSE(second.boolForKey("everLaunched_1.0"));
}

TEST_F(UserDefaultsTest, ConcurrentWritersAndSynchronizeAreSafe) {
  UserDefaults defaults(file());
  std::vector<std::shared_ptr<Thread>> writers;
  for (int t = 0; t < 4; ++t) {
    writers.push_back(Thread::start("writer", [&defaults, t] {
      for (int i = 0; i < 50; ++i) {
        defaults.set("key" + std::to_string(t), i);
        if (i % 25 == 0) defaults.synchronize();
      }
    }));
  }
  for (auto& w : writers) w->join();
  ASSERT_TRUE(defaults.synchronize());
  UserDefaults reloaded(file());
  for (int t = 0; t < 4; ++t) EXPECT_EQ(reloaded.object("key" + std::to_string(t)), Value(49));
}

}  // namespace
