// WebPageLayout and the process's end: a layout under way when the process exits is waited for,
// since the text shaping it runs on reads tables that the libraries free among the exit handlers.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "platform/media/WebPageLayout.h"

namespace platform {
namespace {

// Long enough to lay out for a good while: every paragraph is shaped and broken into lines.
std::string longPage() {
  std::string html = "<html><body>";
  for (int i = 0; i < 500; ++i) {
    html += "<p>Paragraph " + std::to_string(i) +
            ": the lecture's notes, with enough words in them to wrap over several lines of a "
            "narrow view, 会计继续教育的讲义。</p>";
  }
  return html + "</body></html>";
}

// Registered before anything else, so it runs last of the exit handlers: by then no layout may
// be running any more.
void exitWithTheLayoutsLeft() { ::_exit(WebPageLayout::layoutsInFlight() == 0 ? 0 : 3); }

TEST(WebPageLayoutExitTest, TheProcessEndsOnlyOnceTheLayoutUnderWayHasEnded) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        std::atexit(exitWithTheLayoutsLeft);
        std::thread([page = longPage()] {
          WebPageLayout::layOut(page, "http://127.0.0.1/notes.html", {}, 120, 400);
        }).detach();
        while (WebPageLayout::layoutsInFlight() == 0) std::this_thread::yield();
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace platform
