// Containers against a loopback container server on the manual clock: refresh tokens, the
// saved copy and its age, fetch outcomes and their schedules, preview, default-container mode,
// the typed getters, and the faults mended in loading (an unusable resource is a failure; a
// missing data folder still reaches the network).

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "platform/foundation/Assert.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Paths.h"
#include "support/Files.h"
#include "support/MainLoop.h"
#include "support/TempHome.h"
#include "tagmanager/TagContainerSupport.h"
#include "tagmanager/TagLogRecorder.h"
#include "tagmanager/TagResourceMaker.h"
#include "tagmanager/container/TAGContainer.h"
#include "tagmanager/container/TAGPServingRoot.h"
#include "tagmanager/manager/TAGManager.h"
#include "tagmanager/manager/TAGPreviewManager.h"

namespace {

using testsupport::ContainerCallbackRecorder;
using testsupport::ResourceMaker;
using testsupport::ScriptedReply;

constexpr double kHour = 3600.0;

tagpb::TAGPResource versioned(const std::string& version) {
  ResourceMaker r;
  r.addMacro("greeting", r.string("hello " + version));
  r.resource.set_version(version);
  return r.resource;
}

// A resource the runtime refuses: a rule adds a tag that does not exist.
tagpb::TAGPResource invalid() {
  ResourceMaker r;
  r.addRule({}, {3});
  r.resource.set_version("bad");
  return r.resource;
}

std::string varint(std::uint64_t n) {
  std::string out;
  for (; n >= 0x80; n >>= 7) out += static_cast<char>((n & 0x7F) | 0x80);
  return out + static_cast<char>(n);
}

std::string lengthDelimited(int field, const std::string& bytes) {
  return varint(static_cast<std::uint64_t>(field) << 3 | 2) + varint(bytes.size()) + bytes;
}

// The wire form of a resource whose macro "deep" names the last of `levels` values, each a list
// holding the value before it (the first is a string). Written by hand: a million values as
// messages would cost far more memory than their 11 MB of wire form.
std::string deepChainResource(std::size_t levels) {
  ResourceMaker r;
  r.string("leaf");
  const int first = 3;  // the macro adds its function id and its name after the leaf
  r.addMacro("deep", first + static_cast<int>(levels) - 2);
  EXPECT_EQ(r.resource.value_size(), first);
  r.resource.set_version("deep");
  std::string bytes = r.resource.SerializeAsString();
  for (std::size_t i = 1; i < levels; ++i) {
    std::uint64_t below = i == 1 ? 0 : first + i - 2;
    // type List, then the serving extension (field 101) holding the one list item.
    std::string value = "\x08\x02" + lengthDelimited(101, "\x08" + varint(below));
    bytes += lengthDelimited(2, value);
  }
  return bytes;
}

std::string savedFile(const std::string& id) {
  return platform::Paths::join(platform::Paths::library(),
                               "Application Support/Tags/TagManager/resource_" + id);
}

class TAGContainerTest : public ::testing::Test {
 protected:
  ~TAGContainerTest() override {
    for (const auto& id : {"CTR-A", "CTR-B"}) {
      if (auto container = manager_->getContainerById(id)) container->close();
    }
    TAGManager::clearManagerInstance();
    TAGPreviewManager::instance().clear();
  }

  std::shared_ptr<TAGContainer> open(const std::string& id = "CTR-A") {
    return manager_->openContainerById(id, recorder_);
  }
  bool waitFor(const std::string& event) {
    return testsupport::runUntil([&] { return recorder_->heard(event); });
  }
  static void runFor(double seconds) {
    platform::RunLoop::main()->runFor(platform::seconds(seconds));
  }
  double nowMs() { return platform::toSeconds(clock_->now()) * 1000.0; }

  testsupport::TempHome home_;
  platform::ScopedManualClock clock_;
  testsupport::TagLogRecorder log_;
  testsupport::ContainerServer server_;
  std::shared_ptr<TAGManager> manager_ = TAGManager::initWithSameInstance(false);
  std::shared_ptr<ContainerCallbackRecorder> recorder_ =
      std::make_shared<ContainerCallbackRecorder>();
};

TEST_F(TAGContainerTest, ThirtyRefreshesPassTheThirtyFirstWaitsForATokenEarnedIn15Minutes) {
  auto container = TAGContainer::initWithId("CTR-T", manager_);
  for (int i = 0; i < 30; ++i) {
    log_.clear();
    container->refresh();
    ASSERT_EQ(log_.lines("verbose").front(), "Container refresh requested.") << i;
    clock_->advanceSeconds(6);
  }
  EXPECT_EQ(container->numTokens(), 0u);
  log_.clear();
  container->refresh();
  EXPECT_EQ(log_.lines("verbose").back(), "Container refresh was called too often. Ignored.");

  clock_->advanceSeconds(15 * 60);
  log_.clear();
  container->refresh();
  EXPECT_EQ(log_.lines("verbose").front(), "Container refresh requested.");
  EXPECT_EQ(container->numTokens(), 0u);
}

TEST_F(TAGContainerTest, ARefreshWithin5SecondsIsRefusedAndTakesNoToken) {
  auto container = TAGContainer::initWithId("CTR-T", manager_);
  container->refresh();
  double accepted = container->lastRefreshMethodCalledTime();
  EXPECT_EQ(container->numTokens(), 29u);
  clock_->advance(std::chrono::milliseconds(4999));
  container->refresh();
  EXPECT_EQ(container->numTokens(), 29u);
  EXPECT_EQ(container->lastRefreshMethodCalledTime(), accepted);
  clock_->advance(std::chrono::milliseconds(1));
  container->refresh();
  EXPECT_EQ(container->numTokens(), 28u);
}

TEST_F(TAGContainerTest, SavedCopy11HoursOldRefreshesInAnHour) {
  testsupport::writeSavedCopy("CTR-A", versioned("5"), nowMs() - 11 * kHour * 1000);
  server_.answerResource(versioned("6"));
  auto container = open();
  ASSERT_TRUE(waitFor("success:0"));
  EXPECT_EQ(recorder_->events(), (std::vector<std::string>{"begin:0", "success:0"}));
  EXPECT_FALSE(container->isDefault());
  EXPECT_EQ(container->stringForKey("greeting"), "hello 5");
  EXPECT_EQ(container->lastRefreshTime(), nowMs() - 11 * kHour * 1000);

  runFor(kHour - 1);
  EXPECT_EQ(server_.requestCount(), 0u);
  runFor(2);
  ASSERT_TRUE(waitFor("success:1"));
  EXPECT_EQ(server_.requests()[0].target, "/r?id=CTR-A&v=i50809091&pv=5");
  EXPECT_EQ(container->stringForKey("greeting"), "hello 6");
}

TEST_F(TAGContainerTest, SavedCopy13HoursOldRefreshesAtOnce) {
  testsupport::writeSavedCopy("CTR-A", versioned("5"), nowMs() - 13 * kHour * 1000);
  server_.answerResource(versioned("6"));
  auto container = open();
  ASSERT_TRUE(waitFor("success:1"));
  EXPECT_EQ(server_.requestCount(), 1u);
  EXPECT_EQ(container->lastRefreshTime(), nowMs());
}

TEST_F(TAGContainerTest, FetchedResourceIsSavedStampedAndRefreshedIn12Hours) {
  server_.answerResource(versioned("7"));
  auto container = open();
  ASSERT_TRUE(waitFor("success:1"));
  EXPECT_EQ(recorder_->events(),
            (std::vector<std::string>{"begin:0", "failure:0:0", "begin:1", "success:1"}));
  EXPECT_EQ(server_.requests()[0].target, "/r?id=CTR-A&v=i50809091");
  double stamped = nowMs();
  EXPECT_EQ(container->lastRefreshTime(), stamped);
  ASSERT_TRUE(testsupport::runUntil([] { return testsupport::exists(savedFile("CTR-A")); }));
  auto saved = TAGPServingRoot::parseFromData<tagpb::TAGPResourceWithMetadata>(
      testsupport::readFile(savedFile("CTR-A")));
  EXPECT_EQ(saved.time_stamp(), static_cast<std::int64_t>(stamped));
  EXPECT_EQ(saved.resource().version(), "7");

  runFor(12 * kHour - 1);
  EXPECT_EQ(server_.requestCount(), 1u);
  runFor(2);
  ASSERT_TRUE(testsupport::runUntil([&] { return server_.requestCount() == 2; }));
  EXPECT_EQ(server_.requests()[1].target, "/r?id=CTR-A&v=i50809091&pv=7");
}

TEST_F(TAGContainerTest, FailedFetchesReportTheirFailureAndRetryInAnHour) {
  struct Case {
    ScriptedReply reply;
    std::string failure;
  };
  const Case cases[] = {
      {ScriptedReply::text(500, ""), "failure:3:1"},
      {ScriptedReply::text(404, ""), "failure:4:1"},
      {ScriptedReply::text(200, "\x0a\xff garbage"), "failure:4:1"},
      // No resource in the answer while nothing was ever loaded.
      {ScriptedReply::text(200, ""), "failure:4:1"},
  };
  for (const auto& c : cases) {
    recorder_ = std::make_shared<ContainerCallbackRecorder>();
    server_.answer(c.reply);
    std::size_t before = server_.requestCount();
    auto container = open();
    ASSERT_TRUE(waitFor(c.failure)) << c.reply.status << " " << c.reply.body;
    EXPECT_TRUE(container->isDefault());
    runFor(kHour - 1);
    EXPECT_EQ(server_.requestCount(), before + 1);
    runFor(2);
    ASSERT_TRUE(testsupport::runUntil([&] { return server_.requestCount() == before + 2; }));
    container->close();
    runFor(1);
  }
}

TEST_F(TAGContainerTest, AFetchedResourceThatDoesNotExpandIsAFailureAndIsNotSaved) {
  server_.answerResource(invalid());
  auto container = open();
  ASSERT_TRUE(waitFor("failure:4:1"));
  EXPECT_FALSE(recorder_->heard("success:1"));
  EXPECT_TRUE(container->isDefault()) << "not stamped as refreshed";
  EXPECT_EQ(container->lastLoadedResource(), nullptr);
  runFor(kHour - 1);
  EXPECT_FALSE(testsupport::exists(savedFile("CTR-A")));
  EXPECT_EQ(server_.requestCount(), 1u) << "retried in 1 h, not 12 h";
  runFor(2);
  ASSERT_TRUE(testsupport::runUntil([&] { return server_.requestCount() == 2; }));
}

// A container of 3.8 MB that the runtime refuses: its text form was one error line of 25
// million characters, and the verbose line of the fetch built it once more at every level.
TEST_F(TAGContainerTest, ARefusedContainerIsLoggedBySizeVersionAndReasonNotWhole) {
  ResourceMaker r;
  // Each value well within what one value may hold, together 3.8 MB.
  for (int i = 0; i < 4; ++i) r.addMacro("bulk", r.string(std::string(950000, '\x01')));
  r.addRule({}, {3});
  r.resource.set_version("big");
  const std::string size = std::to_string(r.resource.ByteSizeLong());
  server_.answerResource(r.resource);
  open();
  ASSERT_TRUE(waitFor("failure:4:1"));
  for (const auto& line : log_.lines()) EXPECT_LT(line.size(), 1000u) << line.substr(0, 200);
  auto errors = log_.lines("error");
  // The defect itself has a line of its own, as short.
  EXPECT_NE(std::find_if(errors.begin(), errors.end(),
                         [](const std::string& line) {
                           return line.rfind("Index out of bounds detected: ", 0) == 0;
                         }),
            errors.end());
  EXPECT_NE(std::find(errors.begin(), errors.end(),
                      "Not loading resource: " + size +
                          " bytes, version \"big\" because it is invalid: "
                          "InvalidResourceException: Resource is invalid"),
            errors.end());
  auto verbose = log_.lines("verbose");
  EXPECT_NE(std::find(verbose.begin(), verbose.end(),
                      "Successfully loaded resource: " + size + " bytes, version \"big\""),
            verbose.end());
}

TEST_F(TAGContainerTest, ASavedCopyThatDoesNotExpandIsFailureOneAndTheNetworkComesAtOnce) {
  testsupport::writeSavedCopy("CTR-A", invalid(), nowMs() - 1000);
  server_.answerResource(versioned("8"));
  auto container = open();
  ASSERT_TRUE(waitFor("success:1"));
  EXPECT_EQ(recorder_->events(),
            (std::vector<std::string>{"begin:0", "failure:1:0", "begin:1", "success:1"}));
  EXPECT_EQ(container->lastRefreshTime(), nowMs());
}

// Expanded as it was, such a chain overflowed the stack on every event (converting the value)
// or while the load let go of it; the saved copy made that happen again after every restart.
// A million values take seconds to parse, hence the long waits.
constexpr double kDeepLoadSeconds = 180;

TEST_F(TAGContainerTest, AContainerNestedTooDeepIsRefusedFromTheNetwork) {
  for (std::size_t levels : {std::size_t{40000}, std::size_t{1000000}}) {
    SCOPED_TRACE(levels);
    const std::string id = levels == 40000 ? "CTR-A" : "CTR-B";
    recorder_ = std::make_shared<ContainerCallbackRecorder>();
    server_.answer(ScriptedReply::text(200, lengthDelimited(2, deepChainResource(levels))));
    auto container = open(id);
    // Refused, whichever failure says so (the fetch may refuse a body that large outright).
    ASSERT_TRUE(testsupport::runUntil(
        [&] {
          for (const auto& event : recorder_->events()) {
            if (event.rfind("failure:", 0) == 0 && event.back() == '1') return true;
          }
          return false;
        },
        kDeepLoadSeconds));
    EXPECT_FALSE(recorder_->heard("success:1"));
    EXPECT_TRUE(container->isDefault());
    container->evaluateTags("event");
    EXPECT_EQ(container->stringForKey("deep"), "");
    container->close();
  }
}

TEST_F(TAGContainerTest, AContainerNestedTooDeepIsRefusedFromTheSavedCopy) {
  server_.answerResource(versioned("fine"));
  for (std::size_t levels : {std::size_t{40000}, std::size_t{1000000}}) {
    SCOPED_TRACE(levels);
    const std::string id = levels == 40000 ? "CTR-A" : "CTR-B";
    recorder_ = std::make_shared<ContainerCallbackRecorder>();
    TAGResourceStorageImpl::dataPath();
    testsupport::writeFile(savedFile(id), "\x08" + varint(static_cast<std::uint64_t>(nowMs())) +
                                              lengthDelimited(2, deepChainResource(levels)));
    auto container = open(id);
    ASSERT_TRUE(
        testsupport::runUntil([&] { return recorder_->heard("success:1"); }, kDeepLoadSeconds));
    EXPECT_EQ(recorder_->events(),
              (std::vector<std::string>{"begin:0", "failure:1:0", "begin:1", "success:1"}));
    container->evaluateTags("event");
    EXPECT_EQ(container->stringForKey("greeting"), "hello fine");
    container->close();
  }
}

TEST_F(TAGContainerTest, AnUnreadableSavedCopyIsFailureOne) {
  TAGResourceStorageImpl::dataPath();
  testsupport::writeFile(savedFile("CTR-A"), "not a resource");
  auto container = open();
  ASSERT_TRUE(waitFor("failure:1:0"));
  auto warnings = log_.lines("warning");
  EXPECT_NE(std::find_if(warnings.begin(), warnings.end(),
                         [](const std::string& w) {
                           return w.rfind("Error reading resource from disk", 0) == 0;
                         }),
            warnings.end());
}

// A saved copy larger than anything this program saves is not read, even one that would parse:
// this one is a good container followed by a 9 MiB field nobody knows.
TEST_F(TAGContainerTest, ASavedCopyLargerThanAContainerIsNotReadAndTheNetworkIsAsked) {
  testsupport::writeSavedCopy("CTR-A", versioned("5"), nowMs());
  testsupport::writeFile(savedFile("CTR-A"), testsupport::readFile(savedFile("CTR-A")) +
                                                 lengthDelimited(1000, std::string(9 << 20, 'x')));
  server_.answerResource(versioned("6"));
  auto container = open();
  ASSERT_TRUE(waitFor("success:1"));
  EXPECT_EQ(recorder_->events(),
            (std::vector<std::string>{"begin:0", "failure:1:0", "begin:1", "success:1"}));
  EXPECT_EQ(container->stringForKey("greeting"), "hello 6");
}

TEST_F(TAGContainerTest, WithoutItsDataFolderTheContainerHearsFailureOneAndGoesToTheNetwork) {
  testsupport::writeFile(platform::Paths::join(platform::Paths::library(), "Application Support"),
                         "a file where the folder should be");
  server_.answerResource(versioned("9"));
  auto container = open();
  ASSERT_TRUE(waitFor("success:1"));
  EXPECT_EQ(recorder_->events(),
            (std::vector<std::string>{"begin:0", "failure:1:0", "begin:1", "success:1"}));
  auto errors = log_.lines("error");
  EXPECT_NE(std::find_if(
                errors.begin(), errors.end(),
                [](const std::string& e) { return e.rfind("Create directory error: ", 0) == 0; }),
            errors.end());
}

TEST_F(TAGContainerTest, ARefreshFromAThreadWithoutARunLoopStillLoads) {
  server_.answerResource(versioned("1"));
  auto container = open();
  ASSERT_TRUE(waitFor("success:1"));
  clock_->advanceSeconds(10);
  server_.answerResource(versioned("2"));
  std::thread([&] { container->refresh(); }).join();
  ASSERT_TRUE(testsupport::runUntil([&] { return recorder_->events().size() == 6; }));
  EXPECT_EQ(recorder_->events().back(), "success:1");
  EXPECT_EQ(server_.requestCount(), 2u);
  EXPECT_EQ(container->stringForKey("greeting"), "hello 2");
}

TEST_F(TAGContainerTest, AServedVersionWithBlanksAndSeparatorsGoesBackAsOneQueryValue) {
  server_.answerResource(versioned("1 &x=y#z"));
  auto container = open();
  ASSERT_TRUE(waitFor("success:1"));
  clock_->advanceSeconds(10);
  container->refresh();
  ASSERT_TRUE(testsupport::runUntil([&] { return recorder_->events().size() == 6; }));
  EXPECT_EQ(recorder_->events().back(), "success:1") << "the later fetch still works";
  ASSERT_EQ(server_.requestCount(), 2u);
  EXPECT_EQ(server_.requests()[1].target, "/r?id=CTR-A&v=i50809091&pv=1%20%26x%3Dy%23z");
}

TEST_F(TAGContainerTest, DefaultContainerModeNeitherLoadsNorRefreshes) {
  manager_->setRefreshMode(1);
  auto container = open();
  runFor(13 * kHour);
  EXPECT_TRUE(recorder_->events().empty());
  EXPECT_EQ(server_.requestCount(), 0u);
  log_.clear();
  container->refresh();
  EXPECT_EQ(log_.lines("warning"),
            (std::vector<std::string>{
                "Container is in DEFAULT_CONTAINER mode. Refresh request is ignored."}));
  EXPECT_TRUE(container->isDefault());
}

TEST_F(TAGContainerTest, ASecondLoadIsRefusedAndASecondOpenIsNone) {
  auto container = open();
  try {
    container->loadWithCallback(recorder_);
    FAIL() << "no exception";
  } catch (const platform::Exception& e) {
    EXPECT_EQ(e.name(), "ContainerAlreadyLoadedException");
    EXPECT_STREQ(e.what(), "Container already loaded: container Id:CTR-A");
  }
  EXPECT_EQ(open(), nullptr);
  EXPECT_EQ(log_.lines("error").back(), "Container id: CTR-A has already been opened");
}

TEST_F(TAGContainerTest, ClosedContainerAnswersDefaultsAndIsForgotten) {
  server_.answerResource(versioned("1"));
  auto container = open();
  ASSERT_TRUE(waitFor("success:1"));
  container->close();
  EXPECT_EQ(manager_->getContainerById("CTR-A"), nullptr);
  log_.clear();
  EXPECT_EQ(container->stringForKey("greeting"), "");
  EXPECT_FALSE(container->booleanForKey("greeting"));
  EXPECT_EQ(container->int64ForKey("greeting"), 0);
  EXPECT_EQ(container->doubleForKey("greeting"), 0.0);
  container->refresh();
  EXPECT_EQ(
      log_.lines("error"),
      (std::vector<std::string>{
          "stringForKey called for closed container", "booleanForKey called for closed container",
          "int64ForKey called for closed container", "doubleForKey called for closed container"}));
  EXPECT_EQ(log_.lines("warning"),
            (std::vector<std::string>{"refresh called for closed container"}));
  runFor(13 * kHour);
  EXPECT_EQ(server_.requestCount(), 1u);
}

TEST_F(TAGContainerTest, PreviewedContainerFetchesWithTheLinkQueryAndSavesNothing) {
  testsupport::writeSavedCopy("CTR-A", versioned("5"), nowMs());
  ASSERT_TRUE(
      manager_->previewWithUrl("tagmanager.c.app://preview/p?id=CTR-A&tm_auth=k&tm_preview=4"));
  server_.answerResource(versioned("preview"));
  auto container = open();
  ASSERT_TRUE(waitFor("success:1"));
  EXPECT_EQ(recorder_->events(),
            (std::vector<std::string>{"begin:0", "failure:0:0", "begin:1", "success:1"}))
      << "the saved copy is not read while previewing";
  EXPECT_EQ(server_.requests()[0].target, "/r?id=CTR-A&tm_auth=k&tm_preview=4&v=i50809091");
  EXPECT_EQ(container->stringForKey("greeting"), "hello preview");
  runFor(1);
  auto saved = TAGPServingRoot::parseFromData<tagpb::TAGPResourceWithMetadata>(
      testsupport::readFile(savedFile("CTR-A")));
  EXPECT_EQ(saved.resource().version(), "5") << "the saved copy is left alone";

  // The end link puts the container back on its own path, refreshed at once.
  clock_->advanceSeconds(10);
  server_.answerResource(versioned("10"));
  ASSERT_TRUE(manager_->previewWithUrl("tagmanager.c.app://preview/p?id=CTR-A&tm_preview="));
  ASSERT_TRUE(testsupport::runUntil([&] { return server_.requestCount() == 2; }));
  EXPECT_EQ(server_.requests()[1].target, "/r?id=CTR-A&v=i50809091&pv=preview");
}

TEST_F(TAGContainerTest, InitialContentComesFromTheBundleBinaryThenPlistThenJson) {
  auto& bundle = platform::Bundle::main();
  bundle.setResourcePath(home_.path());
  auto initial = [&] {
    return TAGContainer::initWithId("CTR-J", manager_)->stringForKey("greeting");
  };
  EXPECT_EQ(initial(), "");
  auto errors = log_.lines("error");
  EXPECT_NE(std::find(errors.begin(), errors.end(),
                      "No default container found; creating an empty container."),
            errors.end());
  testsupport::writeFile(home_.path() + "/CTR-J.json", R"({"greeting": "from json"})");
  EXPECT_EQ(initial(), "from json");
  testsupport::writeFile(home_.path() + "/CTR-J.plist",
                         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                         "<key>greeting</key><string>from plist</string></dict></plist>");
  EXPECT_EQ(initial(), "from plist");
  testsupport::writeFile(home_.path() + "/CTR-J", versioned("bin").SerializeAsString());
  EXPECT_EQ(initial(), "hello bin");
  testsupport::writeFile(home_.path() + "/CTR-J", invalid().SerializeAsString());
  auto container = TAGContainer::initWithId("CTR-J", manager_);
  EXPECT_EQ(container->runtime(), nullptr) << "a binary default that does not expand: no runtime";
  bundle.setResourcePath("");
}

TEST_F(TAGContainerTest, GettersReadTheRuntimeSafelyWhileItIsReplaced) {
  auto container = TAGContainer::initWithId("CTR-T", manager_);
  auto resource = std::make_shared<tagpb::TAGPResource>(versioned("x"));
  std::atomic<bool> stop{false};
  std::vector<std::thread> readers;
  for (int i = 0; i < 3; ++i) {
    readers.emplace_back([&] {
      while (!stop) {
        std::string value = container->stringForKey("greeting");
        ASSERT_TRUE(value == "" || value == "hello x") << value;
      }
    });
  }
  for (int i = 0; i < 200; ++i) container->setupEvaluatorsWithResource(resource, false);
  stop = true;
  for (auto& reader : readers) reader.join();
  EXPECT_EQ(container->stringForKey("greeting"), "hello x");
}

}  // namespace
