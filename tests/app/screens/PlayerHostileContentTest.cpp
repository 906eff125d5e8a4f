// The lecture player with notes and a video from a bad server: a notes page that would hold the
// main thread for seconds, a stylesheet importing itself, and a playlist that turns into a master
// playlist naming itself once the movie plays. The player keeps playing and crediting, the main
// run loop keeps answering within a quarter of a second, and the screen can be left.

#include <cairo.h>
#include <gtest/gtest.h>

#include <string>

#include "LectureTestSupport.h"
#include "platform/media/MoviePlayerController.h"
#include "platform/media/WebView.h"
#include "platform/ui/Window.h"
#include "support/Files.h"
#include "support/MainLoop.h"
#include "support/MainLoopProbe.h"

namespace {

using screentest::LectureTest;

std::string repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

class PlayerHostileContentTest : public LectureTest {};

TEST_F(PlayerHostileContentTest, HostileNotesAndVideoLeaveThePlayerPlayingCreditingAndClosable) {
  const std::string folder = mediaRoot + "/long1";
  testsupport::writeFile(folder + "/notes.html",
                         "<html><head><link rel=\"stylesheet\" href=\"a.css\"></head><body>" +
                             repeat("<table><tr><td>", 18) + "讲义" +
                             repeat("</td></tr></table>", 18) + "</body></html>");
  testsupport::writeFile(folder + "/a.css", "@import url(a.css);\nbody { color: #333333 }");
  testsupport::MainLoopProbe probe;
  auto player = openPlayer(0, PlayVideoViewController::kEnterFromCourseDetail, true);
  testsupport::writeFile(folder + "/index.m3u8",
                         "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1000\nindex.m3u8\n");
  // The screen drawn: the notes page is laid out, the movie's frame asked for.
  cairo_surface_destroy(window->renderToSurface());
  play(30);
  EXPECT_EQ(unsentSeconds(kFirst), 30);
  EXPECT_TRUE(testsupport::runUntil([&] {
    return !player->webView()->isLoadingResources() &&
           !player->playerController()->isDecodingFrame();
  }));
  cairo_surface_destroy(window->renderToSurface());
  EXPECT_NE(player->webView()->loadedHTML().find("讲义"), std::string::npos);
  EXPECT_EQ(player->playerController()->playbackState(), platform::MoviePlaybackState::Playing);
  EXPECT_LT(probe.longestWait(), testsupport::MainLoopProbe::kAnswerSeconds);

  player->back();
  EXPECT_TRUE(player->isClosed());
  play(1);
  EXPECT_LT(probe.longestWait(), testsupport::MainLoopProbe::kAnswerSeconds);
}

}  // namespace
