// Playing a road on plain screens: targets found by text, tag and picture the way a person sees
// them, refusals that name what is on screen, alerts answered by index or title, waits for texts
// and for notices posted before the wait, a picture after every step (the failing one too) and
// the page that shows them.

#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <optional>
#include <thread>

#include "fakeserver/FakeCourseServer.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/RunLoop.h"
#include "platform/media/MoviePlayerController.h"
#include "platform/net/URLConnection.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Button.h"
#include "platform/ui/Image.h"
#include "platform/ui/Label.h"
#include "platform/ui/TextField.h"
#include "platform/ui/UITestDriver.h"
#include "platform/ui/Window.h"
#include "shell/RoadReport.h"
#include "shell/RoadRunner.h"
#include "shell/RoadScreen.h"
#include "support/Files.h"
#include "support/TempHome.h"

namespace {

using platform::Button;
using platform::Rect;

class AnswerRecorder : public platform::AlertViewDelegate {
 public:
  void alertViewClickedButtonAtIndex(platform::AlertView&, int index) override {
    answers.push_back(index);
  }
  std::vector<int> answers;
};

class RoadRunnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::UITestDriver::reset();
    window = platform::Window::create();
    window->makeKeyAndVisible();
    folder = home.path() + "/road";
    std::filesystem::create_directories(folder);
  }
  void TearDown() override { platform::UITestDriver::reset(); }

  std::shared_ptr<Button> button(const Rect& frame, std::function<void()> action) {
    auto b = Button::create(frame);
    b->addAction(std::move(action), platform::ControlEvent::TouchUpInside);
    window->addSubview(b);
    return b;
  }
  // Plays `text`; the runner stays for the checks.
  bool play(const std::string& text) {
    std::string error;
    auto script = RoadScript::parse(text, &error);
    EXPECT_TRUE(script) << error;
    runner = std::make_unique<RoadRunner>(std::move(*script), folder);
    return runner->run();
  }
  const RoadRunner::Record& last() { return runner->records().back(); }

  testsupport::TempHome home;
  platform::ScopedManualClock clock;
  std::shared_ptr<platform::Window> window;
  std::string folder;
  std::unique_ptr<RoadRunner> runner;
};

TEST_F(RoadRunnerTest, TapsWhatAPersonSeesByTextTagOrPicture) {
  std::vector<std::string> taps;
  auto titled = button({10, 30, 100, 40}, [&] { taps.push_back("titled"); });
  titled->setTitle(std::string("登录"));
  auto tagged = button({10, 80, 100, 40}, [&] { taps.push_back("tagged"); });
  tagged->setTag(77);
  auto pictured = button({10, 130, 100, 40}, [&] { taps.push_back("pictured"); });
  pictured->setBackgroundImage(platform::Image::named("btn_logout"));
  // A label with blanks around its text, held by a button.
  auto holder = button({10, 180, 200, 40}, [&] { taps.push_back("holder"); });
  auto label = platform::Label::create(Rect{0, 0, 200, 40});
  label->setText("  记住账号 ");
  holder->addSubview(label);

  ASSERT_TRUE(play("tap \"登录\"\ntap #77\ntap @btn_logout\ntap @btn_logout.png\ntap \"记住账号\""))
      << RoadReport::failure(*runner);
  EXPECT_EQ(taps, (std::vector<std::string>{"titled", "tagged", "pictured", "pictured", "holder"}));
  EXPECT_EQ(runner->passedCount(), 5);
}

TEST_F(RoadRunnerTest, AStepThatFailsStopsTheRoadWithItsReasonAndItsPicture) {
  auto shown = button({10, 30, 100, 40}, [] {});
  shown->setTitle(std::string("北京市"));
  auto hidden = button({10, 80, 100, 40}, [] {});
  hidden->setTitle(std::string("上海市"));
  hidden->setHidden(true);
  auto away = button({400, 80, 100, 40}, [] {});  // beside the screen
  away->setTitle(std::string("天津市"));

  struct Case {
    const char* step;
    const char* reason;
  };
  const Case cases[] = {
      {"tap \"上海市\"", "nothing on screen shows \"上海市\"; on screen: \"北京市\""},
      {"tap \"天津市\"", "nothing on screen shows \"天津市\""},
      {"type \"北京市\" \"x\"", "\"北京市\" is on screen but takes no text"},
      {"answer 0", "no alert is on screen"},
      {"select 0 0", "no table is on screen"},
      {"scroll 0 10", "no scroll view is on screen"},
      {"wait \"天津市\" 0.05", "\"天津市\" did not come on screen within 0.05 s"},
      {"wait notification never 0.05", "\"never\" was not posted within 0.05 s"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.step);
    EXPECT_FALSE(play(std::string("snapshot \"start\"\n") + c.step + "\ntap \"北京市\""));
    ASSERT_EQ(runner->records().size(), 2u) << "the road stops at the failing step";
    EXPECT_EQ(runner->passedCount(), 1);
    EXPECT_FALSE(last().passed);
    EXPECT_EQ(last().failure.rfind(c.reason, 0), 0u) << last().failure;
    EXPECT_EQ(RoadReport::failure(*runner),
              std::string("step 2 (line 2: ") + c.step + ") failed: " + last().failure);
    ASSERT_FALSE(last().picture.empty());
    EXPECT_TRUE(testsupport::exists(folder + "/" + last().picture)) << "the broken screen drawn";
  }
}

TEST_F(RoadRunnerTest, ACoveredTargetIsRefusedWithWhatIsInTheWay) {
  auto under = button({10, 30, 100, 40}, [] { FAIL() << "covered"; });
  under->setTitle(std::string("下载"));
  button({0, 0, 320, 200}, [] {});  // a sheet over it
  EXPECT_FALSE(play("tap \"下载\""));
  EXPECT_NE(last().failure.find("the touch would go to"), std::string::npos) << last().failure;
}

TEST_F(RoadRunnerTest, TypesIntoTheFieldNamedByItsHint) {
  auto field = platform::TextField::create(Rect{10, 30, 200, 35});
  field->setPlaceholder(std::string("  用户名："));
  window->addSubview(field);
  ASSERT_TRUE(play("type \"用户名：\" \"zhang\"")) << RoadReport::failure(*runner);
  EXPECT_EQ(field->text(), "zhang");
}

TEST_F(RoadRunnerTest, AnswersTheAlertOnTopByIndexOrByTitle) {
  auto recorder = std::make_shared<AnswerRecorder>();
  auto show = [&] {
    platform::AlertView::create(std::string("提示"), std::string("是否退出登录?"), recorder,
                                std::string("取消"), std::vector<std::string>{"确定"})
        ->show();
  };
  show();
  ASSERT_TRUE(play("wait \"是否退出登录?\"\nanswer \"确定\"")) << RoadReport::failure(*runner);
  show();
  ASSERT_TRUE(play("answer 0")) << RoadReport::failure(*runner);
  EXPECT_EQ(recorder->answers, (std::vector<int>{1, 0}));

  show();
  EXPECT_FALSE(play("answer 2"));
  EXPECT_EQ(last().failure, "the alert has no button 2; its buttons: 取消, 确定");
  EXPECT_FALSE(play("answer \"好\""));
  EXPECT_EQ(last().failure, "the alert has no button \"好\"; its buttons: 取消, 确定");
}

TEST_F(RoadRunnerTest, ANoticePostedBeforeItsWaitCountsOnceForOneWait) {
  auto poster = button({10, 30, 100, 40},
                       [] { platform::NotificationCenter::defaultCenter().post("roadDone"); });
  poster->setTitle(std::string("发送"));
  EXPECT_FALSE(play("tap \"发送\"\nwait notification roadDone 1\nwait notification roadDone 0.05"));
  ASSERT_EQ(runner->records().size(), 3u);
  EXPECT_TRUE(runner->records()[1].passed) << "posted during the tap, before the wait began";
  EXPECT_FALSE(runner->records()[2].passed) << "one posting serves one wait";
}

TEST_F(RoadRunnerTest, AdvancingMovesTheClockAndTheScreenAfterIt) {
  auto label = platform::Label::create(Rect{10, 30, 200, 40});
  window->addSubview(label);
  auto start = clock->monotonicNow();
  auto timer = platform::Timer::scheduled(platform::seconds(10), false,
                                          [&](platform::Timer&) { label->setText("十秒到了"); });
  ASSERT_TRUE(play("advance 10\nwait \"十秒到了\" 1")) << RoadReport::failure(*runner);
  EXPECT_GE(clock->monotonicNow() - start, platform::seconds(10));
}

TEST_F(RoadRunnerTest, AFrameStepChecksWhereTheViewLiesOnTheScreen) {
  // A bar inside a sheet that is itself moved: the check reads screen places, not the parent's.
  auto sheet = platform::View::create(Rect{0, 64, 320, 416});
  window->addSubview(sheet);
  auto bar = button({0, 367, 320, 49}, [] {});
  bar->removeFromSuperview();
  bar->setTag(5);
  sheet->addSubview(bar);
  ASSERT_TRUE(play("frame #5 0 431 320 49\nframe %Button 0 431 320 49"))
      << RoadReport::failure(*runner);

  bar->setFrame({0, 318, 320, 49});  // climbed 49 points
  EXPECT_FALSE(play("frame #5 0 431 320 49"));
  EXPECT_EQ(last().failure, "#5 lies at 0,382 320x49, not at 0,431 320x49");
  EXPECT_FALSE(play("frame #6 0 431 320 49"));
  EXPECT_EQ(last().failure.rfind("nothing on screen shows #6", 0), 0u) << last().failure;
}

// Shows the answer of the one request it makes in a label.
class AnswerLabel : public platform::URLConnectionDelegate {
 public:
  explicit AnswerLabel(std::shared_ptr<platform::Label> label) : label_(std::move(label)) {}
  void connectionDidReceiveData(platform::URLConnection&, const platform::Bytes& data) override {
    body_.append(data.begin(), data.end());
  }
  void connectionDidFinishLoading(platform::URLConnection&) override { label_->setText(body_); }

 private:
  std::shared_ptr<platform::Label> label_;
  std::string body_;
};

TEST_F(RoadRunnerTest, AStepsPictureShowsTheAnswersOfTheRequestsItMade) {
  fakeserver::FakeCourseServer server;
  ASSERT_TRUE(server.start());
  server.setAnswer("/api/hello", 200, "答复到了");
  auto label = platform::Label::create(Rect{10, 80, 200, 40});
  window->addSubview(label);
  auto answer = std::make_shared<AnswerLabel>(label);
  std::shared_ptr<platform::URLConnection> connection;
  auto ask = button({10, 30, 100, 40}, [&] {
    connection = platform::URLConnection::make(
        platform::URLRequest(server.baseUrl() + "/api/hello"), answer);
    connection->start();
  });
  ask->setTitle(std::string("问"));
  // The clock does not move while the answer travels: only real time does.
  ASSERT_TRUE(play("tap \"问\"\nsnapshot \"the answer\"")) << RoadReport::failure(*runner);
  EXPECT_EQ(label->text(), "答复到了") << "the step's picture was taken before the answer came";
  EXPECT_EQ(platform::URLConnection::transfersInFlight(), 0u);
}

// The lecture's first segment comes late: the tap that opened it and the advance after it are
// what its position counts, not how long the segment took on the way.
TEST_F(RoadRunnerTest, AMovieOpenedByAStepPlaysFromTheClockTimeOfThatStep) {
  fakeserver::FakeCourseServer server;
  ASSERT_TRUE(server.start());
  const std::string segment = "/media/longlecture/0.ts";
  server.holdAfter(segment, 0);
  std::shared_ptr<platform::MoviePlayerController> player;
  auto open = button({10, 30, 100, 40}, [&] {
    player = platform::MoviePlayerController::create();
    player->setContentURL(server.mediaUrl("longlecture/index.m3u8"));
    player->play();
  });
  open->setTitle(std::string("播放"));
  // The segment goes on from the main loop once it is held, so it is still on its way when the
  // loop next looks for something to do.
  std::thread releaser([&] {
    if (server.waitForHold(segment, std::chrono::seconds(20)))
      platform::RunLoop::main()->perform([&] { server.releaseHolds(); });
  });
  const bool passed = play("tap \"播放\"\nadvance 10");
  releaser.join();
  ASSERT_TRUE(passed) << RoadReport::failure(*runner);
  ASSERT_TRUE(player);
  EXPECT_EQ(player->playbackState(), platform::MoviePlaybackState::Playing);
  EXPECT_DOUBLE_EQ(player->currentPlaybackTime(), RoadRunner::kSettleSeconds + 10)
      << "playing since the tap, the tap's settling time before the advance";
}

TEST_F(RoadRunnerTest, WorkAStepLeftToOtherThreadsLandsAtTheClockTimeOfThatStep) {
  auto operations = platform::OperationQueue::create("road-test");
  struct Case {
    const char* name;
    std::function<void(std::function<void()>)> hand;
  };
  const Case cases[] = {
      {"a job on the worker pool",
       [](std::function<void()> work) {
         platform::dispatch::Queue::global()->async(std::move(work));
       }},
      {"an operation on its queue",
       [&](std::function<void()> work) { operations->addOperation(std::move(work)); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto tapped = std::make_shared<std::optional<platform::MonoTime>>();
    auto landed = std::make_shared<std::optional<platform::MonoTime>>();
    auto start = button({10, 30, 100, 40}, [&c, tapped, landed] {
      *tapped = platform::Clock::shared()->monotonicNow();
      auto opener = std::make_shared<std::promise<void>>();
      c.hand([opened = opener->get_future().share(), landed] {
        opened.wait();
        platform::RunLoop::main()->perform(
            [landed] { *landed = platform::Clock::shared()->monotonicNow(); });
      });
      // Opened from the main loop: the answer is still on its way when the loop next looks for
      // something to do.
      platform::RunLoop::main()->perform([opener] { opener->set_value(); });
    });
    start->setTitle(std::string("开始"));
    ASSERT_TRUE(play("tap \"开始\"")) << RoadReport::failure(*runner);
    ASSERT_TRUE(tapped->has_value() && landed->has_value());
    EXPECT_EQ(platform::toSeconds(**landed - **tapped), 0.0);
    start->removeFromSuperview();
  }
}

TEST_F(RoadRunnerTest, EveryStepLeavesAPictureAndThePageShowsThemInOrder) {
  auto shown = button({10, 30, 100, 40}, [] {});
  shown->setTitle(std::string("<北京&市>"));
  EXPECT_FALSE(play("snapshot \"start\"\ntap \"<北京&市>\"\ntap \"nowhere\""));
  std::string error;
  ASSERT_TRUE(RoadReport::writeIndex(*runner, folder, &error)) << error;
  EXPECT_EQ(testsupport::filesIn(folder), (std::vector<std::string>{"01-snapshot.png", "02-tap.png",
                                                                    "03-tap.png", "index.html"}));
  const std::string page = testsupport::readFile(folder + "/index.html");
  const auto first = page.find("src=\"01-snapshot.png\"");
  const auto second = page.find("src=\"02-tap.png\"");
  const auto third = page.find("src=\"03-tap.png\"");
  EXPECT_TRUE(first < second && second < third) << page;
  EXPECT_NE(page.find("step 2 (line 2: tap &quot;&lt;北京&amp;市&gt;&quot;)"), std::string::npos);
  EXPECT_NE(page.find("failed: nothing on screen shows &quot;nowhere&quot;"), std::string::npos);
  EXPECT_NE(page.find("2 of 3 steps passed"), std::string::npos);

  const std::string summary = RoadReport::summary(*runner, folder);
  EXPECT_NE(summary.find("steps passed:                  2 of 3\n"), std::string::npos) << summary;
  EXPECT_NE(summary.find(folder + "/index.html"), std::string::npos);
  const auto figures = page.find("<pre class=\"summary\">" + summary + "</pre>");
  EXPECT_NE(figures, std::string::npos) << "the page carries the summary's figures: " << page;
  EXPECT_LT(figures, first) << "above the pictures";
}

}  // namespace
