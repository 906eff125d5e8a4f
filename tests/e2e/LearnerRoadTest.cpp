// The application end to end: the real executable plays the bundled learner's road against the
// fake course server it starts itself (with the media port held by another program), passes
// every step and leaves a picture per step (the same, byte for byte, on a second run), an index
// page and a summary whose figures agree; it names the server before the road logs anything; a
// failing step and a bad command line end the run with a message and their exit status; a course
// server named on the command line is the one used.

#include <cairo.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "fakeserver/FakeCourseServer.h"
#include "shell/RoadScript.h"
#include "support/Files.h"
#include "support/HeldPort.h"
#include "support/TempHome.h"

extern char** environ;

namespace {

struct Outcome {
  int status = -1;  // the exit status, or -1 when the program did not exit normally
  std::string out;
  std::string err;
};

class LearnerRoadTest : public ::testing::Test {
 protected:
  // Runs the executable with `args`, in an environment without this test's CHENGHENG_ settings
  // (its home above all) but with `settings`; the media server takes a free port, as tests run
  // side by side. With `oneStream`, standard error goes where standard output goes (`out`), as
  // on a terminal or in a pipe shared by both.
  Outcome play(std::vector<std::string> args,
               std::vector<std::string> settings = {"CHENGHENG_MEDIA_PORT=0"},
               bool oneStream = false) {
    args.insert(args.begin(), CHENGHENG_EXECUTABLE);
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> entries = std::move(settings);
    for (char** e = environ; *e; ++e) {
      std::string entry = *e;
      if (entry.rfind("CHENGHENG_", 0) != 0) entries.push_back(entry);
    }
    std::vector<char*> envp;
    for (auto& entry : entries) envp.push_back(entry.data());
    envp.push_back(nullptr);

    const std::string outPath = home.path() + "/stdout.txt";
    const std::string errPath = home.path() + "/stderr.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    if (oneStream) {
      posix_spawn_file_actions_adddup2(&actions, 1, 2);
    } else {
      posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                       0644);
    }
    pid_t pid = 0;
    Outcome result;
    EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    result.out = testsupport::readFile(outPath);
    if (!oneStream) result.err = testsupport::readFile(errPath);
    return result;
  }

  std::string script(const std::string& text) {
    const std::string path = home.path() + "/road.txt";
    testsupport::writeFile(path, text);
    return path;
  }

  // The number after `label` in the summary, or -1.
  static long figure(const std::string& summary, const std::string& label) {
    std::smatch match;
    if (!std::regex_search(summary, match, std::regex(label + " +([0-9]+)"))) return -1;
    return std::stol(match[1]);
  }

  // The width and height a PNG file's header gives.
  static std::pair<int, int> pngSize(const std::string& path) {
    const std::string bytes = testsupport::readFile(path);
    if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return {0, 0};
    auto word = [&](std::size_t at) {
      return (static_cast<unsigned char>(bytes[at]) << 24) |
             (static_cast<unsigned char>(bytes[at + 1]) << 16) |
             (static_cast<unsigned char>(bytes[at + 2]) << 8) |
             static_cast<unsigned char>(bytes[at + 3]);
    };
    return {static_cast<int>(word(16)), static_cast<int>(word(20))};
  }

  // The picture file of the first step written as `source` in `road`; empty when none is.
  static std::string pictureOf(const RoadScript& road, const std::string& source,
                               const std::string& verb) {
    const auto& steps = road.steps();
    for (std::size_t i = 0; i < steps.size(); ++i) {
      if (steps[i].source != source) continue;
      char name[64];
      std::snprintf(name, sizeof name, "%02zu-%s.png", i + 1, verb.c_str());
      return name;
    }
    return "";
  }

  // How many pixels of the picture's band between rows `top` and `bottom` are near white, near
  // black, and of some other colour.
  struct Tones {
    long white = 0, black = 0, other = 0;
  };
  static Tones tones(const std::string& path, int top, int bottom) {
    Tones t;
    cairo_surface_t* surface = cairo_image_surface_create_from_png(path.c_str());
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
      cairo_surface_destroy(surface);
      return t;
    }
    const int stride = cairo_image_surface_get_stride(surface);
    const int width = cairo_image_surface_get_width(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    for (int y = top; y < bottom && y < cairo_image_surface_get_height(surface); ++y) {
      const auto* row = reinterpret_cast<const std::uint32_t*>(data + y * stride);
      for (int x = 0; x < width; ++x) {
        const int r = row[x] >> 16 & 0xFF, g = row[x] >> 8 & 0xFF, b = row[x] & 0xFF;
        if (r > 240 && g > 240 && b > 240) {
          ++t.white;
        } else if (r < 60 && g < 60 && b < 60) {
          ++t.black;
        } else {
          ++t.other;
        }
      }
    }
    cairo_surface_destroy(surface);
    return t;
  }

  testsupport::TempHome home;
  std::string out = home.path() + "/road";
};

TEST_F(LearnerRoadTest, TheBundledRoadPassesEveryStepAndLeavesAPictureOfEach) {
  std::string error;
  auto road = RoadScript::load(testsupport::sourceDir() + "/resources/roads/learner.road", &error);
  ASSERT_TRUE(road) << error;
  const long steps = static_cast<long>(road->steps().size());

  // Another program holds the media server's configured port: the downloaded lecture plays all
  // the same, from the port the server took instead.
  testsupport::HeldPort held;
  ASSERT_NE(held.port(), 0);
  Outcome result = play({"--out", out}, {"CHENGHENG_MEDIA_PORT=" + std::to_string(held.port())});
  ASSERT_EQ(result.status, 0) << result.out << result.err;
  EXPECT_EQ(result.err.find("VERBOSE:"), std::string::npos)
      << "the analytics log keeps to warnings and errors unless asked:\n"
      << result.err;
  EXPECT_NE(result.out.find("The fake course server listens on http://127.0.0.1:"),
            std::string::npos);
  EXPECT_NE(result.out.find("steps passed:                  " + std::to_string(steps) + " of " +
                            std::to_string(steps) + "\n"),
            std::string::npos)
      << result.out;
  // The road plays 30 seconds online and uploads them, which the server credits as one minute
  // and shows in its next course answer; the downloaded lecture then resumes offline at that
  // minute, and 20 seconds more of it stay on the device: no stretch is credited twice.
  EXPECT_EQ(figure(result.out, "study time credited this run:"), 50) << result.out;
  EXPECT_EQ(figure(result.out, "study time sent to the server:"), 1);
  EXPECT_EQ(figure(result.out, "study time kept on the device:"), 20);
  EXPECT_GT(figure(result.out, "lecture bytes downloaded:"), 0);
  EXPECT_GT(figure(result.out, "media-server requests served:"), 0);
  EXPECT_NE(result.out.find(out + "/index.html"), std::string::npos);

  const std::string page = testsupport::readFile(out + "/index.html");
  long pictures = 0;
  for (const auto& name : testsupport::filesIn(out)) {
    if (std::filesystem::path(name).extension() != ".png") continue;
    ++pictures;
    const auto size = pngSize(out + "/" + name);
    EXPECT_TRUE(size == std::make_pair(640, 960) || size == std::make_pair(960, 640))
        << name << " is the phone's screen, upright or turned";
    EXPECT_NE(page.find("src=\"" + name + "\""), std::string::npos) << name;
  }
  EXPECT_EQ(pictures, steps);
  EXPECT_TRUE(testsupport::exists(out + "/home/Documents/sample.db")) << "the run's own home";

  // The player's first picture shows the lecture's frame, not a black area; the notes page
  // shows the lecture's notes: dark text on white. Both are between the player's bars (the
  // screen is turned: rows 128 to 552 of 640).
  const std::string player =
      pictureOf(*road, "wait notification MPMoviePlayerPlaybackStateDidChangeNotification", "wait");
  ASSERT_FALSE(player.empty());
  Tones video = tones(out + "/" + player, 128, 552);
  EXPECT_GT(video.other, 100000) << player << " shows the lecture's colours";
  const std::string notes = pictureOf(*road, "tap @btn_switch_sound", "tap");
  ASSERT_FALSE(notes.empty());
  Tones notesPage = tones(out + "/" + notes, 128, 552);
  EXPECT_GT(notesPage.white, 200000) << notes << " shows the page";
  EXPECT_GT(notesPage.black, 5000) << notes << " shows its text";

  // The same road again draws the same pictures, byte for byte: nothing in them depends on how
  // quick the machine or the loopback network was.
  const std::string again = home.path() + "/again";
  Outcome second = play({"--out", again});
  ASSERT_EQ(second.status, 0) << second.out << second.err;
  for (const auto& name : testsupport::filesIn(out)) {
    if (std::filesystem::path(name).extension() != ".png") continue;
    EXPECT_TRUE(testsupport::readFile(out + "/" + name) ==
                testsupport::readFile(again + "/" + name))
        << name << " differs between two runs";
  }
}

TEST_F(LearnerRoadTest, TheServersAddressComesBeforeAnythingTheRoadLogs) {
  // Every analytics line asked for: the launch logs some at once.
  Outcome result = play({"--out", out, "--script", script("scroll 1920 0\ntap @begin\n")},
                        {"CHENGHENG_MEDIA_PORT=0", "CHENGHENG_ANALYTICS_LOG_LEVEL=4"}, true);
  ASSERT_EQ(result.status, 0) << result.out;
  const auto address = result.out.find("The fake course server listens on http://127.0.0.1:");
  const auto logged = result.out.find("UsageAnalytics");
  ASSERT_NE(address, std::string::npos) << result.out;
  ASSERT_NE(logged, std::string::npos) << "the level asked for was kept:\n" << result.out;
  EXPECT_LT(address, logged) << result.out;
}

TEST_F(LearnerRoadTest, ARunOnAUsedHomeCountsOnlyItsOwnStudyTime) {
  const std::vector<std::string> settings = {"CHENGHENG_MEDIA_PORT=0",
                                             "CHENGHENG_HOME=" + home.path() + "/learner"};
  Outcome first = play({"--out", out}, settings);
  ASSERT_EQ(first.status, 0) << first.out << first.err;
  EXPECT_EQ(figure(first.out, "study time kept on the device:"), 20) << first.out;

  // The same home again: the lecture goes on from the 20 unsent seconds, 10 more are credited,
  // and the 30 seconds now on the device are sent as one minute.
  Outcome second = play({"--out", home.path() + "/again", "--script", script(R"(
wait "北京市"
tap "北京市"
type "用户名：" "zhang"
type "密    码：" "secret"
tap @btn_loginOnline
wait "企业会计准则解读"
tap "企业会计准则解读"
wait "第一讲 总则"
tap "第一讲 总则"
wait notification MPMoviePlayerPlaybackStateDidChangeNotification
advance 15
tap @btn_video_back
tap @btn_back_2
tap "学习记录"
tap @btn_sync
answer "确定"
wait "同步成功"
answer 0
)")},
                        settings);
  ASSERT_EQ(second.status, 0) << second.out << second.err;
  EXPECT_EQ(figure(second.out, "study time credited this run:"), 10) << second.out;
  EXPECT_EQ(figure(second.out, "study time sent to the server:"), 1);
  EXPECT_EQ(figure(second.out, "study time kept on the device:"), 0);
}

TEST_F(LearnerRoadTest, AFailingStepEndsTheRunWithItsNameAndStatusOne) {
  Outcome result = play({"--out", out, "--script",
                         script("snapshot \"the guide\"\ntap \"上海市\"\nsnapshot \"never\"\n")});
  EXPECT_EQ(result.status, 1) << result.out << result.err;
  EXPECT_NE(result.err.find("step 2 (line 2: tap \"上海市\") failed: nothing on screen shows "
                            "\"上海市\""),
            std::string::npos)
      << result.err;
  EXPECT_NE(result.out.find("steps passed:                  1 of 3"), std::string::npos);
  EXPECT_EQ(testsupport::filesIn(out),
            (std::vector<std::string>{"01-snapshot.png", "02-tap.png", "home", "index.html"}));
}

TEST_F(LearnerRoadTest, ABadCommandLineOrScriptEndsWithStatusTwoBeforeAnythingRuns) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {"unknown option", {"--fast"}, "usage: chengheng"},
      {"option without value", {"--out"}, "usage: chengheng"},
      {"script that is no road", {"--script", script("tap\n")}, "road.txt: line 1: usage: tap"},
      {"missing script", {"--script", home.path() + "/none.road"}, "cannot read the script"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), {"--out", out});
    Outcome result = play(args);
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    EXPECT_FALSE(testsupport::exists(out + "/index.html"));
  }
}

TEST_F(LearnerRoadTest, ACourseServerNamedOnTheCommandLineIsTheOneUsed) {
  fakeserver::FakeCourseServer server;
  ASSERT_TRUE(server.start());
  Outcome result = play({"--out", out, "--api-host", server.apiHost(), "--script",
                         script("scroll 1920 0\ntap @begin\nwait \"北京市\"\n")});
  ASSERT_EQ(result.status, 0) << result.out << result.err;
  EXPECT_EQ(result.out.find("The fake course server listens"), std::string::npos)
      << "no server of its own";
  EXPECT_EQ(server.requestsTo("/api/getRetrainAreas.html").size(), 1u);
}

}  // namespace
