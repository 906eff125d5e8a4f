#include <cairo.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackServer.h"
#include "platform/foundation/ApplicationNotifications.h"
#include "platform/foundation/Assert.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Mutex.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/media/HLSPlaylist.h"
#include "platform/media/MovieFrameDecoder.h"
#include "platform/media/MoviePlayerController.h"
#include "platform/net/URLError.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Image.h"
#include "platform/ui/View.h"
#include "support/Files.h"
#include "support/MainLoopProbe.h"
#include "support/Surfaces.h"
#include "support/TempHome.h"

namespace platform {
namespace {

using mediatest::LoopbackServer;

const char* const kPlaylist =
    "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:10\n"
    "#EXTINF:10.0,\nseg0.ts\n#EXTINF:10.0,\nseg1.ts\n#EXTINF:5.5,\nseg2.ts\n#EXT-X-ENDLIST\n";
constexpr double kDuration = 25.5;

// Serves a lecture under /lecture/ (playlist and segments) and a second one under /other/.
void lectureRoutes(httplib::Server& server) {
  auto playlist = [](const httplib::Request&, httplib::Response& res) {
    res.set_content(kPlaylist, "application/x-mpegURL");
  };
  auto segment = [](const httplib::Request&, httplib::Response& res) {
    res.set_content(std::string(1880, '\x47'), "video/mp2t");
  };
  server.Get("/lecture/index.m3u8", playlist);
  server.Get("/other/index.m3u8", playlist);
  server.Get(R"(/(lecture|other)/seg\d\.ts)", segment);
}

// Everything the player tells the notification centre, as "state:1", "load:1", "finish:0" or
// "finish:1:error".
class Events {
 public:
  explicit Events(const std::shared_ptr<MoviePlayerController>& player) : player_(player) {
    auto& center = NotificationCenter::defaultCenter();
    tokens_.push_back(center.addObserver(
        kMoviePlayerPlaybackStateDidChangeNotification, player.get(),
        [this](const Notification&) { add("state:" + number(player_->playbackState())); }));
    tokens_.push_back(center.addObserver(
        kMoviePlayerLoadStateDidChangeNotification, player.get(),
        [this](const Notification&) { add("load:" + std::to_string(player_->loadState())); }));
    tokens_.push_back(center.addObserver(kMoviePlayerPlaybackDidFinishNotification, player.get(),
                                         [this](const Notification& n) { finished(n); }));
  }

  const std::vector<std::string>& list() const { return events_; }
  bool has(const std::string& event) const {
    return std::find(events_.begin(), events_.end(), event) != events_.end();
  }
  int count(const std::string& event) const {
    return static_cast<int>(std::count(events_.begin(), events_.end(), event));
  }
  const std::shared_ptr<Error>& error() const { return error_; }

 private:
  static std::string number(MoviePlaybackState s) { return std::to_string(static_cast<int>(s)); }
  void add(std::string event) { events_.push_back(std::move(event)); }
  void finished(const Notification& n) {
    std::string event =
        "finish:" + n.userInfo.at(kMoviePlayerPlaybackDidFinishReasonUserInfoKey).stringValue();
    if (auto e = find(n.userInfo, kMoviePlayerPlaybackDidFinishErrorUserInfoKey)) {
      error_ = e->object<Error>();
      event += ":error";
    }
    EXPECT_EQ(n.object.identity(), player_.get());
    add(event);
  }

  std::shared_ptr<MoviePlayerController> player_;
  std::vector<ObserverToken> tokens_;
  std::vector<std::string> events_;
  std::shared_ptr<Error> error_;
};

class MoviePlayerControllerTest : public ::testing::Test {
 protected:
  // Plays `path` of the lecture server and runs the main loop until the player plays.
  void startPlaying(const std::string& path = "/lecture/index.m3u8") {
    player->setContentURL(server.url(path));
    playUntilPlaying();
  }
  void playUntilPlaying() {
    player->play();
    ASSERT_TRUE(loop->runUntil([&] { return events.has("state:1"); }));
  }
  bool runUntilFinished() {
    return loop->runUntil(
        [&] { return events.count("finish:0") + events.count("finish:1:error"); });
  }
  // Runs what is due without moving the clock, one pass at a time, and answers how many passes
  // found something to do (at most `limit`). An end timer that keeps coming due again at the
  // same instant never lets the loop go idle.
  int busyPasses(int limit = 100) {
    int passes = 0;
    while (passes < limit && loop->runOnce(Clock::shared()->monotonicNow())) ++passes;
    return passes;
  }

  ScopedManualClock clock;
  std::shared_ptr<RunLoop> loop = RunLoop::main();
  LoopbackServer server{lectureRoutes};
  std::shared_ptr<MoviePlayerController> player = MoviePlayerController::create();
  Events events{player};
};

TEST_F(MoviePlayerControllerTest, LoadsPlaylistAndFirstSegmentThenPlays) {
  player->setMovieSourceType(MovieSourceType::Streaming);
  player->setControlStyle(MovieControlStyle::None);
  EXPECT_TRUE(std::isnan(player->currentPlaybackTime()));
  EXPECT_EQ(player->duration(), 0);

  startPlaying();

  EXPECT_EQ(events.list(), (std::vector<std::string>{"load:1", "state:1"}));
  EXPECT_EQ(player->loadState(), MovieLoadState::Playable);
  EXPECT_DOUBLE_EQ(player->duration(), kDuration);
  EXPECT_DOUBLE_EQ(player->currentPlaybackTime(), 0);
  EXPECT_EQ(server.paths(), (std::vector<std::string>{"/lecture/index.m3u8", "/lecture/seg0.ts"}));
  EXPECT_EQ(player->loadedSegmentURL(), server.url("/lecture/seg0.ts"));
}

TEST_F(MoviePlayerControllerTest, PositionAdvancesWithTheClockWhilePlaying) {
  startPlaying();
  loop->runFor(seconds(3));
  EXPECT_DOUBLE_EQ(player->currentPlaybackTime(), 3);
  clock->advanceSeconds(1.25);
  EXPECT_DOUBLE_EQ(player->currentPlaybackTime(), 4.25);
  EXPECT_EQ(player->playbackState(), MoviePlaybackState::Playing);
}

TEST_F(MoviePlayerControllerTest, PauseHoldsThePositionSeekMovesItStopRewinds) {
  startPlaying();
  loop->runFor(seconds(2));

  player->pause();
  // Notifications come from the run loop, never from inside the call.
  EXPECT_FALSE(events.has("state:2"));
  loop->runFor(seconds(5));
  EXPECT_TRUE(events.has("state:2"));
  EXPECT_EQ(player->playbackState(), MoviePlaybackState::Paused);
  EXPECT_DOUBLE_EQ(player->currentPlaybackTime(), 2);

  player->setCurrentPlaybackTime(20);
  EXPECT_DOUBLE_EQ(player->currentPlaybackTime(), 20);
  player->play();
  loop->runFor(seconds(1));
  EXPECT_DOUBLE_EQ(player->currentPlaybackTime(), 21);

  player->setCurrentPlaybackTime(-4);
  EXPECT_DOUBLE_EQ(player->currentPlaybackTime(), 0);

  player->stop();
  loop->runFor(seconds(60));
  EXPECT_EQ(player->playbackState(), MoviePlaybackState::Stopped);
  EXPECT_DOUBLE_EQ(player->currentPlaybackTime(), 0);
  EXPECT_EQ(events.count("finish:0"), 0) << "stopping is not finishing";
  EXPECT_EQ(events.list().back(), "state:0");
}

// The application's life cycle as the UI layer posts it.
void leaveForeground() {
  NotificationCenter::defaultCenter().post(kApplicationWillResignActiveNotification);
  NotificationCenter::defaultCenter().post(kApplicationDidEnterBackgroundNotification);
}
void returnToForeground() {
  NotificationCenter::defaultCenter().post(kApplicationWillEnterForegroundNotification);
  NotificationCenter::defaultCenter().post(kApplicationDidBecomeActiveNotification);
}

TEST_F(MoviePlayerControllerTest, LeavingTheForegroundPausesAndReturningPlaysOn) {
  startPlaying();
  loop->runFor(seconds(2));
  leaveForeground();
  loop->runFor(seconds(300));
  EXPECT_EQ(player->playbackState(), MoviePlaybackState::Paused);
  EXPECT_DOUBLE_EQ(player->currentPlaybackTime(), 2) << "nothing plays in the background";
  EXPECT_EQ(events.count("finish:0"), 0);

  returnToForeground();
  loop->runFor(seconds(3));
  EXPECT_EQ(player->playbackState(), MoviePlaybackState::Playing);
  EXPECT_DOUBLE_EQ(player->currentPlaybackTime(), 5);
}

TEST_F(MoviePlayerControllerTest, AMoviePausedBeforeOrDuringTheBackgroundStaysPaused) {
  startPlaying();
  player->pause();
  leaveForeground();
  returnToForeground();
  loop->runFor(seconds(5));
  EXPECT_EQ(player->playbackState(), MoviePlaybackState::Paused);

  player->play();
  leaveForeground();
  player->pause();  // asked for while in the background
  returnToForeground();
  loop->runFor(seconds(5));
  EXPECT_EQ(player->playbackState(), MoviePlaybackState::Paused);
  EXPECT_DOUBLE_EQ(player->currentPlaybackTime(), 0);
}

TEST_F(MoviePlayerControllerTest, AMovieLoadingWhenTheApplicationLeavesStartsOnlyOnItsReturn) {
  player->setContentURL(server.url("/lecture/index.m3u8"));
  player->play();
  leaveForeground();
  ASSERT_TRUE(loop->runUntil([&] { return events.has("load:1"); }));
  loop->runFor(seconds(10));
  EXPECT_NE(player->playbackState(), MoviePlaybackState::Playing);
  EXPECT_DOUBLE_EQ(player->currentPlaybackTime(), 0);
  returnToForeground();
  ASSERT_TRUE(loop->runUntil([&] { return events.has("state:1"); }));
  loop->runFor(seconds(1));
  EXPECT_DOUBLE_EQ(player->currentPlaybackTime(), 1);
}

TEST_F(MoviePlayerControllerTest, SeekingStatesHoldThePositionUntilSeekingEnds) {
  startPlaying();
  loop->runFor(seconds(4));
  player->beginSeekingForward();
  loop->runFor(seconds(3));
  EXPECT_EQ(player->playbackState(), MoviePlaybackState::SeekingForward);
  EXPECT_DOUBLE_EQ(player->currentPlaybackTime(), 4);
  player->endSeeking();
  loop->runFor(seconds(1));
  EXPECT_EQ(player->playbackState(), MoviePlaybackState::Playing);
  EXPECT_DOUBLE_EQ(player->currentPlaybackTime(), 5);
  EXPECT_EQ(events.list(), (std::vector<std::string>{"load:1", "state:1", "state:4", "state:1"}));
}

TEST_F(MoviePlayerControllerTest, FinishesOnceAtTheEnd) {
  startPlaying();
  loop->runFor(seconds(40));
  EXPECT_EQ(events.count("finish:0"), 1);
  EXPECT_EQ(events.list().back(), "finish:0");
  EXPECT_EQ(events.error(), nullptr);
  EXPECT_EQ(player->playbackState(), MoviePlaybackState::Stopped);
  EXPECT_DOUBLE_EQ(player->currentPlaybackTime(), kDuration);

  // Playing again starts over without fetching again.
  player->play();
  EXPECT_DOUBLE_EQ(player->currentPlaybackTime(), 0);
  EXPECT_EQ(player->playbackState(), MoviePlaybackState::Playing);
  EXPECT_EQ(server.paths().size(), 2u);
}

// Durations a server may send that no clock can count: the player clamps them and waits.
TEST_F(MoviePlayerControllerTest, DurationsBeyondWhatAClockCountsPlayWithoutSpinning) {
  LoopbackServer huge([](httplib::Server& s) {
    auto serve = [](std::string text) {
      return [text](const httplib::Request&, httplib::Response& res) {
        res.set_content(text, "application/x-mpegURL");
      };
    };
    s.Get("/one/index.m3u8", serve("#EXTM3U\n#EXTINF:1e10,\n0.ts\n"));
    s.Get("/sum/index.m3u8", serve("#EXTM3U\n#EXTINF:1e308,\n0.ts\n#EXTINF:1e308,\n1.ts\n"));
    s.Get(R"(/(one|sum)/0\.ts)", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(std::string(188, '\x47'), "video/mp2t");
    });
  });
  for (const char* path : {"/one/index.m3u8", "/sum/index.m3u8"}) {
    auto longPlayer = MoviePlayerController::create(huge.url(path));
    Events seen(longPlayer);
    longPlayer->play();
    ASSERT_TRUE(loop->runUntil([&] { return seen.has("state:1"); })) << path;
    EXPECT_DOUBLE_EQ(longPlayer->duration(), HLSPlaylist::kMaxDuration) << path;
    ASSERT_LT(busyPasses(), 100) << path << ": the end timer fires again and again";
    loop->runFor(seconds(3600));
    EXPECT_DOUBLE_EQ(longPlayer->currentPlaybackTime(), 3600) << path;
    EXPECT_EQ(seen.list(), (std::vector<std::string>{"load:1", "state:1"})) << path;
    longPlayer->stop();
  }
}

// 1.001 s is 1000999999.9999999 ns as a double: an end timer cut to whole nanoseconds would come
// due a fraction of a nanosecond early and then again and again at the same instant.
TEST_F(MoviePlayerControllerTest, AnEndBetweenTwoClockTicksFinishesOnTheLaterTick) {
  LoopbackServer odd([](httplib::Server& s) {
    s.Get("/odd/index.m3u8", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("#EXTM3U\n#EXTINF:1.001,\nseg0.ts\n", "application/x-mpegURL");
    });
    s.Get("/odd/seg0.ts", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(std::string(188, '\x47'), "video/mp2t");
    });
  });
  player->setContentURL(odd.url("/odd/index.m3u8"));
  playUntilPlaying();
  clock->advance(std::chrono::nanoseconds(1000999999));
  ASSERT_LT(busyPasses(), 100) << "the end timer fires again and again";
  EXPECT_EQ(events.count("finish:0"), 0);
  clock->advance(std::chrono::nanoseconds(1));
  ASSERT_TRUE(runUntilFinished());
  EXPECT_EQ(events.list(), (std::vector<std::string>{"load:1", "state:1", "state:0", "finish:0"}));
  EXPECT_DOUBLE_EQ(player->currentPlaybackTime(), 1.001);
}

// The rule is about where the playlist came from: one read from this device may name files.
TEST_F(MoviePlayerControllerTest, ALocalPlaylistMayNameLocalFiles) {
  testsupport::TempHome home;
  testsupport::writeFile(home.path() + "/seg0.ts", std::string(188, '\x47'));
  testsupport::writeFile(
      home.path() + "/index.m3u8",
      "#EXTM3U\n#EXTINF:4,\nseg0.ts\n#EXTINF:4,\nfile://" + home.path() + "/seg0.ts\n");
  player->setContentURL("file://" + home.path() + "/index.m3u8");
  playUntilPlaying();
  EXPECT_DOUBLE_EQ(player->duration(), 8);
  EXPECT_EQ(player->loadedSegmentURL(), "file://" + home.path() + "/seg0.ts");
}

TEST_F(MoviePlayerControllerTest, ASeekPastTheEndWhilePlayingFinishes) {
  startPlaying();
  player->setCurrentPlaybackTime(1000);
  EXPECT_DOUBLE_EQ(player->currentPlaybackTime(), kDuration);
  ASSERT_TRUE(runUntilFinished());
  EXPECT_EQ(events.count("finish:0"), 1);
}

TEST_F(MoviePlayerControllerTest, ASeekBeforeLoadingIsWherePlaybackStarts) {
  player->setContentURL(server.url("/lecture/index.m3u8"));
  player->setCurrentPlaybackTime(12);
  playUntilPlaying();
  EXPECT_DOUBLE_EQ(player->currentPlaybackTime(), 12);
  loop->runFor(seconds(2));
  EXPECT_DOUBLE_EQ(player->currentPlaybackTime(), 14);
}

TEST_F(MoviePlayerControllerTest, ANewContentURLEndsTheOldMovieAndPlaysTheNewOne) {
  startPlaying();
  loop->runFor(seconds(3));
  player->setContentURL(server.url("/other/index.m3u8"));
  EXPECT_EQ(player->playbackState(), MoviePlaybackState::Stopped);
  EXPECT_TRUE(std::isnan(player->currentPlaybackTime()));
  player->play();
  ASSERT_TRUE(loop->runUntil([&] { return events.count("state:1") == 2; }));
  EXPECT_EQ(events.list(), (std::vector<std::string>{"load:1", "state:1", "state:0", "load:0",
                                                     "finish:0", "load:1", "state:1"}));
  EXPECT_EQ(server.paths().back(), "/other/seg0.ts");
  EXPECT_DOUBLE_EQ(player->currentPlaybackTime(), 0);
}

TEST_F(MoviePlayerControllerTest, ContentThatCannotBeFetchedOrReadFinishesWithAnError) {
  testsupport::TempHome home;
  LoopbackServer broken([&home](httplib::Server& s) {
    auto reply = [](int status, std::string body) {
      return [status, body](const httplib::Request&, httplib::Response& res) {
        res.status = status;
        res.set_content(body, "text/plain");
      };
    };
    s.Get("/missing-segment/index.m3u8", reply(200, kPlaylist));
    s.Get("/not-a-playlist/index.m3u8", reply(200, "<html>Welcome</html>"));
    s.Get("/empty-segment/index.m3u8", reply(200, kPlaylist));
    s.Get("/empty-segment/seg0.ts", reply(200, ""));
    // A server's playlist naming this device's files, first or later.
    s.Get("/file-segment/index.m3u8",
          reply(200, "#EXTM3U\n#EXTINF:10,\nfile://" + home.path() + "/seg0.ts\n"));
    s.Get("/later-file-segment/index.m3u8",
          reply(200, "#EXTM3U\n#EXTINF:10,\nseg0.ts\n#EXTINF:10,\nFILE:///dev/zero\n"));
    s.Get("/later-file-segment/seg0.ts", reply(200, std::string(188, '\x47')));
  });
  testsupport::writeFile(home.path() + "/seg0.ts", std::string(188, '\x47'));
  mediatest::RefusingPort refusing;
  struct Case {
    std::string url;
    std::string domain;
    int code;
  } cases[] = {
      {broken.url("/no-such/index.m3u8"), kMoviePlayerErrorDomain, kMoviePlayerErrorBadStatus},
      {broken.url("/missing-segment/index.m3u8"), kMoviePlayerErrorDomain,
       kMoviePlayerErrorBadStatus},
      {broken.url("/not-a-playlist/index.m3u8"), kMoviePlayerErrorDomain,
       kMoviePlayerErrorBadPlaylist},
      {broken.url("/empty-segment/index.m3u8"), kMoviePlayerErrorDomain,
       kMoviePlayerErrorEmptySegment},
      {"http://127.0.0.1:" + std::to_string(refusing.port()) + "/index.m3u8", kURLErrorDomain,
       kURLErrorCannotConnectToHost},
      {"", kURLErrorDomain, kURLErrorUnsupportedURL},
      {broken.url("/file-segment/index.m3u8"), kMoviePlayerErrorDomain,
       kMoviePlayerErrorBadPlaylist},
      {broken.url("/later-file-segment/index.m3u8"), kMoviePlayerErrorDomain,
       kMoviePlayerErrorBadPlaylist},
  };
  for (const auto& c : cases) {
    auto failing = MoviePlayerController::create(c.url);
    Events seen(failing);
    failing->play();
    ASSERT_TRUE(loop->runUntil([&] { return seen.has("finish:1:error"); })) << c.url;
    ASSERT_NE(seen.error(), nullptr);
    EXPECT_EQ(seen.error()->domain(), c.domain) << c.url;
    EXPECT_EQ(seen.error()->code(), c.code) << c.url;
    EXPECT_EQ(seen.list(), std::vector<std::string>{"finish:1:error"}) << c.url;
    EXPECT_EQ(failing->playbackState(), MoviePlaybackState::Stopped);
    EXPECT_EQ(failing->loadState(), MovieLoadState::Unknown);
    EXPECT_TRUE(std::isnan(failing->currentPlaybackTime()));
    failing->stop();  // as a screen does on the error: harmless, no second finish
    loop->runFor(seconds(1));
    EXPECT_EQ(seen.list().size(), 1u) << c.url;
  }
}

#ifndef NDEBUG
TEST_F(MoviePlayerControllerTest, DebugBuildsRefuseCallsFromAnotherThread) {
  player->setContentURL(server.url("/lecture/index.m3u8"));
  std::string failure;
  std::thread([&] {
    try {
      player->play();
    } catch (const AssertionFailure& e) {
      failure = e.what();
    }
  }).join();
  EXPECT_NE(failure.find("MoviePlayerController::play"), std::string::npos) << failure;
  loop->runFor(seconds(1));
  EXPECT_TRUE(server.paths().empty()) << "nothing was fetched";
}
#endif

TEST_F(MoviePlayerControllerTest, ItsViewJoinsAScreensViewTree) {
  auto screen = View::create(Rect{0, 0, 480, 320});
  auto view = player->view();
  ASSERT_NE(view, nullptr);
  view->setFrame(Rect{0, -20, 480, 320});
  screen->addSubview(view);
  EXPECT_EQ(view->superview(), screen);
  EXPECT_EQ(player->view(), view);
}

// The player's view drawn alone at scale 1; the caller destroys the surface.
cairo_surface_t* drawn(View& view) {
  Rect b = view.bounds();
  cairo_surface_t* surface = cairo_image_surface_create(
      CAIRO_FORMAT_RGB24, static_cast<int>(b.width()), static_cast<int>(b.height()));
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 1, 1, 1);  // white under the view: its own black must show
  cairo_paint(cr);
  GraphicsContext context(cr);
  view.render(context);
  cairo_destroy(cr);
  return surface;
}

struct Rgb {
  int red, green, blue;
};

Rgb colourAt(cairo_surface_t* surface, double x, double y) {
  std::uint32_t p = testsupport::pixelAt(surface, x, y, 1);
  return {static_cast<int>(p >> 16 & 0xFF), static_cast<int>(p >> 8 & 0xFF),
          static_cast<int>(p & 0xFF)};
}

class MovieFrameTest : public MoviePlayerControllerTest {
 protected:
  void SetUp() override {
    if (std::system("ffmpeg -version > /dev/null 2>&1") != 0) {
      GTEST_SKIP() << "ffmpeg is not installed";
    }
    // Two seconds of H.264 in half-second MPEG-TS segments: red for the first second, blue for
    // the second, 10 frames a second.
    folder = home.path() + "/movie";
    std::filesystem::create_directories(folder);
    std::string command =
        "ffmpeg -nostdin -v error -f lavfi -i color=c=red:s=64x48:r=10:d=1 "
        "-f lavfi -i color=c=blue:s=64x48:r=10:d=1 "
        "-filter_complex '[0:v][1:v]concat=n=2:v=1[v]' -map '[v]' -c:v libx264 -g 5 "
        "-pix_fmt yuv420p -f hls -hls_time 0.5 -hls_list_size 0 -hls_segment_filename '" +
        folder + "/%d.ts' '" + folder + "/index.m3u8'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    movieServer = std::make_unique<LoopbackServer>(
        [this](httplib::Server& s) { s.set_mount_point("/movie", folder); });
    player->view()->setFrame(Rect{0, 0, 320, 240});
  }

  // Draws the view (which asks for the frame at the position), waits for the frame and draws
  // again; the caller destroys the surface.
  cairo_surface_t* frameNow() {
    cairo_surface_destroy(drawn(*player->view()));
    EXPECT_TRUE(loop->runUntil([&] { return !player->isDecodingFrame(); }));
    return drawn(*player->view());
  }

  testsupport::TempHome home;
  std::string folder;
  std::unique_ptr<LoopbackServer> movieServer;
};

// Holds the server's handlers until the test opens it (or a generous limit passes, so a failed
// test still ends).
class Gate {
 public:
  void open() EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    open_ = true;
    opened_.notify_all();
  }
  void pass() EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    opened_.wait_for(lock.native(), std::chrono::seconds(30),
                     [this]() REQUIRES(mutex_) { return open_; });
  }

 private:
  platform::Mutex mutex_;
  std::condition_variable opened_;
  bool open_ GUARDED_BY(mutex_) = false;
};

TEST_F(MovieFrameTest, TheViewShowsTheFrameAtTheCurrentPosition) {
  player->setContentURL(movieServer->url("/movie/index.m3u8"));
  playUntilPlaying();
  struct Case {
    double advance;  // seconds the clock moves before the picture
    bool red;
  };
  for (const Case& c : {Case{0.5, true}, Case{1.0, false}}) {
    clock->advanceSeconds(c.advance);
    SCOPED_TRACE(player->currentPlaybackTime());
    cairo_surface_t* surface = frameNow();
    // The 64 x 48 picture fills the 320 x 240 view exactly.
    for (auto [x, y] : {std::pair{160.0, 120.0}, {5.0, 5.0}, {315.0, 235.0}}) {
      Rgb p = colourAt(surface, x, y);
      EXPECT_GT(c.red ? p.red : p.blue, 200) << x << "," << y;
      EXPECT_LT(c.red ? p.blue : p.red, 60) << x << "," << y;
      EXPECT_LT(p.green, 60) << x << "," << y;
    }
    cairo_surface_destroy(surface);
  }

  player->pause();
  player->setCurrentPlaybackTime(0.2);
  cairo_surface_t* back = frameNow();
  EXPECT_GT(colourAt(back, 160, 120).red, 200) << "a seek back shows the earlier frame";
  cairo_surface_destroy(back);
}

TEST_F(MovieFrameTest, AFrameWaitingOnTheNetworkHoldsNeitherTheMainLoopNorTheNextMovie) {
  // The player's own load reads the playlist once; the decoder's read of it is held.
  Gate gate;
  std::atomic<int> playlists{0};
  LoopbackServer held([&](httplib::Server& s) {
    s.Get("/held/index.m3u8", [&](const httplib::Request&, httplib::Response& res) {
      if (++playlists > 1) gate.pass();
      res.set_content(testsupport::readFile(folder + "/index.m3u8"), "application/x-mpegURL");
    });
    s.Get(R"(/held/(\d+\.ts))", [&](const httplib::Request& req, httplib::Response& res) {
      res.set_content(testsupport::readFile(folder + "/" + req.matches[1].str()), "video/mp2t");
    });
  });
  player->setContentURL(held.url("/held/index.m3u8"));
  playUntilPlaying();
  cairo_surface_destroy(drawn(*player->view()));
  EXPECT_TRUE(player->isDecodingFrame());
  EXPECT_TRUE(loop->runUntil([&] { return playlists == 2; })) << "the main loop runs meanwhile";
  EXPECT_TRUE(player->isDecodingFrame());

  player->setContentURL(movieServer->url("/movie/index.m3u8"));
  EXPECT_FALSE(player->isDecodingFrame()) << "the held frame is dropped with its movie";
  player->play();
  ASSERT_TRUE(loop->runUntil([&] {
    return player->loadState() == MovieLoadState::Playable &&
           player->playbackState() == MoviePlaybackState::Playing;
  }));
  clock->advanceSeconds(1.5);
  cairo_surface_t* surface = frameNow();
  EXPECT_GT(colourAt(surface, 160, 120).blue, 200) << "the next movie's frames come meanwhile";
  cairo_surface_destroy(surface);
  gate.open();
}

TEST_F(MovieFrameTest, AStreamThatDoesNotDecodeLeavesTheViewBlack) {
  startPlaying();  // the lecture server's segments are not video
  cairo_surface_t* surface = frameNow();
  EXPECT_EQ(testsupport::pixelsNotOf(surface, 0, 0, 320, 240, 0x000000, 1), 0);
  cairo_surface_destroy(surface);

  player->setContentURL(movieServer->url("/movie/index.m3u8"));
  cairo_surface_t* dropped = drawn(*player->view());
  EXPECT_EQ(testsupport::pixelsNotOf(dropped, 0, 0, 320, 240, 0x000000, 1), 0)
      << "no frame before the new movie loads";
  cairo_surface_destroy(dropped);
}

// A master playlist naming itself: the demuxer, which follows master playlists, would fetch it
// again and again and grow without end.
const char* const kSelfNamingMaster = "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1000\nindex.m3u8\n";

// The lecture's playlist answered to the player as a media playlist and, later, to the frame
// decoder as a master playlist naming itself, over HTTP and in a downloaded copy: the decoder
// gives up (no frame, after a few reads of it), while the main run loop keeps answering and the
// movie keeps playing.
TEST_F(MovieFrameTest, APlaylistThatTurnsIntoAMasterPlaylistIsRefusedByTheDecoder) {
  std::atomic<int> playlists{0};
  std::string media = testsupport::readFile(folder + "/index.m3u8");
  LoopbackServer turning([&](httplib::Server& s) {
    s.Get("/turning/index.m3u8", [&](const httplib::Request&, httplib::Response& res) {
      res.set_content(++playlists == 1 ? media : kSelfNamingMaster, "application/x-mpegURL");
    });
    s.Get(R"(/turning/(\d+\.ts))", [&](const httplib::Request& req, httplib::Response& res) {
      res.set_content(testsupport::readFile(folder + "/" + req.matches[1].str()), "video/mp2t");
    });
  });
  std::string copy = home.path() + "/copy";
  std::filesystem::create_directories(copy);
  for (int i = 0; i < 4; ++i) {
    std::string name = std::to_string(i) + ".ts";
    std::filesystem::copy_file(folder + "/" + name, copy + "/" + name);
  }
  for (const std::string& url :
       {turning.url("/turning/index.m3u8"), "file://" + copy + "/index.m3u8"}) {
    SCOPED_TRACE(url);
    testsupport::writeFile(copy + "/index.m3u8", media);
    testsupport::MainLoopProbe probe;
    player->setContentURL(url);
    player->play();
    ASSERT_TRUE(loop->runUntil([&] {
      return player->loadState() == MovieLoadState::Playable &&
             player->playbackState() == MoviePlaybackState::Playing;
    }));
    testsupport::writeFile(copy + "/index.m3u8", kSelfNamingMaster);
    clock->advanceSeconds(0.5);
    cairo_surface_t* surface = drawn(*player->view());
    cairo_surface_destroy(surface);
    ASSERT_TRUE(loop->runUntil([&] { return !player->isDecodingFrame(); }, seconds(20)));
    surface = drawn(*player->view());
    EXPECT_EQ(testsupport::pixelsNotOf(surface, 0, 0, 320, 240, 0x000000, 1), 0) << "no frame";
    cairo_surface_destroy(surface);
    EXPECT_EQ(player->playbackState(), MoviePlaybackState::Playing);
    EXPECT_LT(probe.longestWait(), testsupport::MainLoopProbe::kAnswerSeconds);
  }
  EXPECT_LE(playlists.load(), 2) << "the master playlist is read once and refused";
}

// The decoder's read of the playlist never answers: once the deadline has passed on the shared
// clock, the decoder gives up with no frame, and a later look at the movie asks again.
TEST_F(MovieFrameTest, OpeningAStreamHasADeadlineOnTheSharedClock) {
  Gate gate;
  std::atomic<int> playlists{0};
  LoopbackServer held([&](httplib::Server& s) {
    s.Get("/held/index.m3u8", [&](const httplib::Request&, httplib::Response& res) {
      if (++playlists == 2) gate.pass();
      res.set_content(testsupport::readFile(folder + "/index.m3u8"), "application/x-mpegURL");
    });
    s.Get(R"(/held/(\d+\.ts))", [&](const httplib::Request& req, httplib::Response& res) {
      res.set_content(testsupport::readFile(folder + "/" + req.matches[1].str()), "video/mp2t");
    });
  });
  player->setContentURL(held.url("/held/index.m3u8"));
  playUntilPlaying();
  player->pause();
  cairo_surface_destroy(drawn(*player->view()));
  ASSERT_TRUE(loop->runUntil([&] { return playlists == 2; }));
  EXPECT_TRUE(player->isDecodingFrame());
  clock->advanceSeconds(21);
  EXPECT_TRUE(loop->runUntil([&] { return !player->isDecodingFrame(); }, seconds(5)))
      << "given up without the server answering";
  cairo_surface_t* surface = drawn(*player->view());
  EXPECT_EQ(testsupport::pixelsNotOf(surface, 0, 0, 320, 240, 0x000000, 1), 0);
  cairo_surface_destroy(surface);
  gate.open();
}

// A downloaded copy may name its segments on the network, as the player plays them, and nothing
// the player would not fetch.
TEST_F(MovieFrameTest, ADownloadedCopyMayNameSegmentsOnTheNetworkButNoOtherScheme) {
  std::string playlist = testsupport::readFile(folder + "/index.m3u8");
  auto withSegments = [&playlist](const std::string& prefix) {
    std::string out;
    for (std::size_t at = 0, next; at < playlist.size(); at = next + 1) {
      next = playlist.find('\n', at);
      std::string line = playlist.substr(at, next - at);
      out += (line.empty() || line[0] == '#' ? line : prefix + line) + "\n";
      if (next == std::string::npos) break;
    }
    return out;
  };
  std::string base = movieServer->url("/movie/");
  struct Case {
    std::string playlist;
    bool frame;
  };
  for (const Case& c : {Case{withSegments(base), true}, Case{withSegments("crypto+" + base), false},
                        Case{withSegments("subfile,,0,0,:" + folder + "/"), false}}) {
    SCOPED_TRACE(c.playlist);
    std::string copy = home.path() + "/copy.m3u8";
    testsupport::writeFile(copy, c.playlist);
    MovieFrameDecoder decoder("file://" + copy);
    std::optional<std::shared_ptr<Image>> frame;
    decoder.requestFrame(0.2, [&frame](std::shared_ptr<Image> f) { frame = std::move(f); });
    ASSERT_TRUE(loop->runUntil([&] { return frame.has_value(); }));
    EXPECT_EQ(*frame != nullptr, c.frame);
  }
}

}  // namespace
}  // namespace platform
