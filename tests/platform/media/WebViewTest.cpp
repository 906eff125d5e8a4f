#include <cairo.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "LoopbackServer.h"
#include "platform/dispatch/WorkerPool.h"
#include "platform/foundation/RunLoop.h"
#include "platform/media/HTMLPageBounds.h"
#include "platform/media/WebView.h"
#include "platform/net/URLError.h"
#include "platform/ui/GraphicsContext.h"
#include "support/Files.h"
#include "support/MainLoopProbe.h"
#include "support/Pictures.h"
#include "support/Surfaces.h"
#include "support/TempHome.h"

namespace platform {
namespace {

using mediatest::LoopbackServer;

const char* const kPage = "<html><head><title>讲义</title></head><body>第一讲</body></html>";

class Recorder : public WebViewDelegate {
 public:
  void webViewDidStartLoad(WebView&) override { events.push_back("start"); }
  void webViewDidFinishLoad(WebView&) override { events.push_back("finish"); }
  void webViewDidFailLoadWithError(WebView&, const Error& e) override {
    events.push_back("fail");
    error = e;
  }
  bool ended() const {
    return !events.empty() && (events.back() == "finish" || events.back() == "fail");
  }

  std::vector<std::string> events;
  std::optional<Error> error;
};

class WebViewTest : public ::testing::Test {
 protected:
  void load(const std::string& url) {
    web->loadRequest(URLRequest(url));
    ASSERT_TRUE(RunLoop::main()->runUntil([&] { return delegate->ended(); })) << url;
  }
  // Writes a page into the test's home folder and answers its path.
  std::string writePage(const std::string& name, const std::string& content) {
    std::string path = home.path() + "/" + name;
    testsupport::writeFile(path, content);
    return path;
  }

  testsupport::TempHome home;
  std::shared_ptr<WebView> web = WebView::create(Rect{480, 0, 480, 212});
  std::shared_ptr<Recorder> delegate = std::make_shared<Recorder>();
  void SetUp() override { web->setDelegate(delegate); }
  // A page's layout runs on the worker pool and may outlive its view: the test ends only once
  // it has, so no layout is still running while the process tears down its statics.
  void TearDown() override {
    EXPECT_TRUE(RunLoop::main()->runUntil(
        [] { return dispatch::WorkerPool::shared().jobsInFlight() == 0; }, seconds(30)));
  }
};

TEST_F(WebViewTest, LoadsAPageFromTheServer) {
  LoopbackServer server([](httplib::Server& s) {
    s.Get("/notes/leture.htm", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(kPage, "text/html; charset=utf-8");
    });
  });
  std::string url = server.url("/notes/leture.htm");
  web->loadRequest(URLRequest(url));
  EXPECT_TRUE(web->isLoading());
  EXPECT_EQ(delegate->events, std::vector<std::string>{"start"});
  ASSERT_TRUE(RunLoop::main()->runUntil([&] { return delegate->ended(); }));

  EXPECT_EQ(delegate->events, (std::vector<std::string>{"start", "finish"}));
  EXPECT_FALSE(web->isLoading());
  EXPECT_EQ(web->loadedHTML(), kPage);
  EXPECT_EQ(web->statusCode(), 200);
  ASSERT_TRUE(web->request());
  EXPECT_EQ(web->request()->url(), url);
}

TEST_F(WebViewTest, AnErrorPageStillLoadsAsTheServerSentIt) {
  LoopbackServer server([](httplib::Server&) {});
  load(server.url("/missing.htm"));
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"start", "finish"}));
  EXPECT_EQ(web->statusCode(), 404);
}

TEST_F(WebViewTest, FailsOnAPortThatRefusesConnections) {
  mediatest::RefusingPort refusing;
  load("http://127.0.0.1:" + std::to_string(refusing.port()) + "/leture.htm");
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"start", "fail"}));
  ASSERT_TRUE(delegate->error);
  EXPECT_EQ(delegate->error->domain(), kURLErrorDomain);
  EXPECT_EQ(delegate->error->code(), kURLErrorCannotConnectToHost);
  EXPECT_EQ(web->loadedHTML(), "");
  EXPECT_FALSE(web->isLoading());
}

TEST_F(WebViewTest, LoadsAFileFromDiskAndFailsOnAMissingOne) {
  std::string path = writePage("leture page.htm", kPage);
  load("file://" + path.substr(0, path.rfind(' ')) + "%20page.htm");
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"start", "finish"}));
  EXPECT_EQ(web->loadedHTML(), kPage);

  load("file://" + home.path() + "/absent.htm");
  EXPECT_EQ(delegate->events.back(), "fail");
  EXPECT_EQ(delegate->error->code(), -1100);
  EXPECT_EQ(web->loadedHTML(), kPage) << "a failed load keeps the page that was loaded";

  load("file://" + home.path());
  EXPECT_EQ(delegate->events.back(), "fail");
  EXPECT_EQ(delegate->error->code(), -1101);
}

TEST_F(WebViewTest, ANewLoadReplacesTheOneUnderWaySilently) {
  std::string first = writePage("first.htm", "first");
  std::string second = writePage("second.htm", "second");
  web->loadRequest(URLRequest("file://" + first));
  load("file://" + second);
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"start", "start", "finish"}));
  EXPECT_EQ(web->loadedHTML(), "second");

  web->loadRequest(URLRequest("file://" + first));
  web->stopLoading();
  EXPECT_FALSE(web->isLoading());
  load("file://" + second);
  EXPECT_EQ(delegate->events.size(), 6u);
  EXPECT_EQ(web->loadedHTML(), "second");
}

TEST_F(WebViewTest, AViewGoneBeforeItsPageArrivesHearsNothing) {
  std::string page = writePage("page.htm", kPage);
  web->loadRequest(URLRequest("file://" + page));
  web.reset();
  auto probe = WebView::create();
  auto probeDelegate = std::make_shared<Recorder>();
  probe->setDelegate(probeDelegate);
  probe->loadRequest(URLRequest("file://" + page));
  ASSERT_TRUE(RunLoop::main()->runUntil([&] { return probeDelegate->ended(); }));
  EXPECT_EQ(delegate->events, std::vector<std::string>{"start"});
}

// A page with a heading, a Chinese paragraph and a picture, each in a band of known height; the
// rest of the view below them is the page's background.
const char* const kDrawnPage =
    "<html><head><meta charset=\"utf-8\"><title>第一讲 讲义</title><style>"
    "body { margin: 0; } h1 { margin: 0; height: 40px; font-size: 30px; }"
    "p { margin: 0; height: 30px; font-size: 20px; } img { display: block; }"
    "</style></head><body><h1>会计基础</h1><p>本讲介绍企业会计准则的基本内容。</p>"
    "<img src=\"images/figure.png\"></body></html>";
constexpr std::uint32_t kWhite = 0xFFFFFF;
constexpr std::uint32_t kFigure = 0x3366CC;  // the colour of testsupport::pngBytes

// The web view drawn alone at scale 2 on a black surface; the caller destroys it.
cairo_surface_t* drawn(WebView& view) {
  Rect b = view.bounds();
  cairo_surface_t* surface = cairo_image_surface_create(
      CAIRO_FORMAT_RGB24, static_cast<int>(b.width() * 2), static_cast<int>(b.height() * 2));
  cairo_t* cr = cairo_create(surface);
  cairo_scale(cr, 2, 2);
  GraphicsContext context(cr);
  view.drawRect(context, b);
  cairo_destroy(cr);
  return surface;
}

class WebViewDrawingTest : public WebViewTest {
 protected:
  // Loads `url` into a 320 x 212 view and waits for its stylesheets and pictures.
  void loadAll(const std::string& url) {
    web = WebView::create(Rect{0, 0, 320, 212});
    web->setDelegate(delegate);
    load(url);
    ASSERT_EQ(delegate->events.back(), "finish") << url;
    ASSERT_TRUE(RunLoop::main()->runUntil([&] { return !web->isLoadingResources(); }));
  }
  // Writes the page and its picture into the test's home; answers the page's path.
  std::string writeDrawnPage() {
    std::filesystem::create_directories(home.path() + "/notes/images");
    testsupport::writeFile(home.path() + "/notes/images/figure.png",
                           testsupport::pngBytes(100, 50));
    return writePage("notes/leture.htm", kDrawnPage);
  }
};

TEST_F(WebViewDrawingTest, DrawsTextAndPicturesOfAPageFromTheServerOrAFile) {
  std::string figure = testsupport::pngBytes(100, 50);
  LoopbackServer server([&figure](httplib::Server& s) {
    s.Get("/notes/leture.htm", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(kDrawnPage, "text/html; charset=utf-8");
    });
    s.Get("/notes/images/figure.png", [&figure](const httplib::Request&, httplib::Response& res) {
      res.set_content(figure, "image/png");
    });
  });
  std::string file = writeDrawnPage();
  for (const std::string& url : {server.url("/notes/leture.htm"), "file://" + file}) {
    SCOPED_TRACE(url);
    loadAll(url);
    EXPECT_EQ(web->pageTitle(), "第一讲 讲义");
    cairo_surface_t* surface = drawn(*web);
    EXPECT_GT(testsupport::pixelsNotOf(surface, 0, 0, 320, 40, kWhite), 100) << "the heading";
    EXPECT_GT(testsupport::pixelsNotOf(surface, 0, 40, 320, 30, kWhite), 100) << "the paragraph";
    EXPECT_EQ(testsupport::pixelsNotOf(surface, 0, 70, 100, 50, kFigure), 0) << "the picture";
    EXPECT_EQ(testsupport::pixelsNotOf(surface, 100, 70, 220, 50, kWhite), 0);
    EXPECT_EQ(testsupport::pixelsNotOf(surface, 0, 120, 320, 92, kWhite), 0) << "the background";
    cairo_surface_destroy(surface);
  }
}

TEST_F(WebViewDrawingTest, AppliesLinkedStylesheetsAndLeavesOutWhatCannotBeHad) {
  const char* page =
      "<html><head><link rel=\"stylesheet\" href=\"css/notes.css\">"
      "<link rel=\"stylesheet\" href=\"css/absent.css\"></head>"
      "<body><div class=\"box\"></div><img src=\"images/absent.png\">"
      "<img src=\"images/broken.png\"></body></html>";
  LoopbackServer server([page](httplib::Server& s) {
    s.Get("/notes.htm", [page](const httplib::Request&, httplib::Response& res) {
      res.set_content(page, "text/html");
    });
    s.Get("/css/notes.css", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("body { margin: 0 } .box { width: 100px; height: 100px; background: red; }",
                      "text/css");
    });
    s.Get("/images/broken.png", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("not a picture", "image/png");
    });
  });
  loadAll(server.url("/notes.htm"));
  cairo_surface_t* surface = drawn(*web);
  EXPECT_EQ(testsupport::pixelsNotOf(surface, 0, 0, 100, 100, 0xFF0000), 0);
  EXPECT_EQ(testsupport::pixelsNotOf(surface, 100, 0, 220, 100, kWhite), 0);
  EXPECT_EQ(testsupport::pixelsNotOf(surface, 0, 100, 320, 112, kWhite), 0);
  cairo_surface_destroy(surface);
  auto paths = server.paths();
  EXPECT_EQ(std::count(paths.begin(), paths.end(), "/css/notes.css"), 1);
  EXPECT_EQ(std::count(paths.begin(), paths.end(), "/images/absent.png"), 1);
}

TEST_F(WebViewDrawingTest, APageFromTheNetworkCannotShowThisDevicesFiles) {
  std::string file = writeDrawnPage();
  std::string folder = file.substr(0, file.rfind('/'));
  std::string page = "<html><body style=\"margin: 0\"><img src=\"file://" + folder +
                     "/images/figure.png\"></body></html>";
  LoopbackServer server([&page](httplib::Server& s) {
    s.Get("/notes.htm", [&page](const httplib::Request&, httplib::Response& res) {
      res.set_content(page, "text/html");
    });
  });
  loadAll(server.url("/notes.htm"));
  cairo_surface_t* surface = drawn(*web);
  EXPECT_EQ(testsupport::pixelsNotOf(surface, 0, 0, 320, 212, kWhite), 0);
  cairo_surface_destroy(surface);
}

TEST_F(WebViewDrawingTest, AWidePageIsScaledToTheViewWhenAsked) {
  std::string file = writeDrawnPage();
  std::string wide =
      writePage("notes/wide.htm",
                "<html><body style=\"margin: 0\"><div style=\"width: 640px; height: 100px; "
                "background-color: #0000ff\"></div></body></html>");
  loadAll("file://" + wide);
  cairo_surface_t* cut = drawn(*web);
  EXPECT_EQ(testsupport::pixelsNotOf(cut, 0, 0, 320, 100, 0x0000FF), 0);
  EXPECT_EQ(testsupport::pixelsNotOf(cut, 0, 100, 320, 112, kWhite), 0);
  cairo_surface_destroy(cut);

  web->setScalesPageToFit(true);
  cairo_surface_t* scaled = drawn(*web);
  EXPECT_EQ(testsupport::pixelsNotOf(scaled, 0, 0, 320, 50, 0x0000FF), 0);
  EXPECT_EQ(testsupport::pixelsNotOf(scaled, 0, 51, 320, 161, kWhite), 0);
  cairo_surface_destroy(scaled);
}

TEST_F(WebViewDrawingTest, ChineseTextWrapsBetweenCharacters) {
  std::string file = writeDrawnPage();
  std::string page = writePage(
      "notes/long.htm",
      "<html><head><meta charset=\"utf-8\"></head><body style=\"margin: 0\">"
      "<p style=\"margin: 0; font-size: 20px; line-height: 30px\">本讲介绍企业会计准则的基本内容"
      "</p></body></html>");
  loadAll("file://" + page);
  cairo_surface_t* wide = drawn(*web);
  EXPECT_GT(testsupport::pixelsNotOf(wide, 0, 0, 320, 30, kWhite), 100);
  EXPECT_EQ(testsupport::pixelsNotOf(wide, 0, 30, 320, 182, kWhite), 0) << "one line";
  cairo_surface_destroy(wide);

  // Drawn at the new width, the page is laid out again for it and drawn once that is ready.
  web->setFrame(Rect{0, 0, 110, 212});
  cairo_surface_destroy(drawn(*web));
  ASSERT_TRUE(RunLoop::main()->runUntil([&] { return !web->isLoadingResources(); }));
  cairo_surface_t* narrow = drawn(*web);
  for (double line : {0, 30, 60}) {
    EXPECT_GT(testsupport::pixelsNotOf(narrow, 0, line, 110, 30, kWhite), 50) << line;
  }
  cairo_surface_destroy(narrow);
}

TEST_F(WebViewDrawingTest, NothingIsDrawnBeforeAPageLoads) {
  web = WebView::create(Rect{0, 0, 320, 212});
  cairo_surface_t* surface = drawn(*web);
  EXPECT_EQ(testsupport::pixelsNotOf(surface, 0, 0, 320, 212, 0x000000), 0);
  cairo_surface_destroy(surface);
}

// Pages a bad server (or a damaged download) could send, each of which once froze or crashed
// the application: the files of the page's folder, the page first.
struct HostilePage {
  const char* name;
  std::map<std::string, std::string> files;
};

std::string repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

std::vector<HostilePage> hostilePages() {
  const std::string linked = "<link rel=\"stylesheet\" href=\"a.css\"><p>讲义</p>";
  return {
      {"a sheet importing itself",
       {{"leture.htm", linked}, {"a.css", "@import url(a.css);\np { color: #ff0000 }"}}},
      {"two sheets importing each other",
       {{"leture.htm", linked},
        {"a.css", "@import url(b.css);\np { color: #ff0000 }"},
        {"b.css", "@import url(a.css);"}}},
      {"18 nested tables",
       {{"leture.htm", repeat("<table><tr><td>", 18) + "讲义" + repeat("</td></tr></table>", 18)}}},
      {"100,000 nested spans", {{"leture.htm", repeat("<span>", 100000) + "讲义"}}},
      {"10,000 nested tables", {{"leture.htm", repeat("<table><tr><td>", 10000) + "讲义"}}},
      {"a column span of 2^31 - 1",
       {{"leture.htm",
         "<html><body><table><tr><td colspan=2147483647>讲义</td></tr></table>"
         "</body></html>"}}},
      {"10,000 nested divs",
       {{"leture.htm", repeat("<div>", 10000) + "讲义" + repeat("</div>", 10000)}}},
  };
}

// Every hostile page, from the server and from the downloaded copy, loads and is drawn while
// the main run loop keeps answering within a quarter of a second.
TEST_F(WebViewDrawingTest, AHostilePageNeverHoldsTheMainThread) {
  for (const auto& hostile : hostilePages()) {
    SCOPED_TRACE(hostile.name);
    std::string folder = home.path() + "/hostile";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    for (const auto& [name, text] : hostile.files)
      testsupport::writeFile(folder + "/" + name, text);
    LoopbackServer server([&hostile](httplib::Server& s) {
      for (const auto& [name, text] : hostile.files) {
        s.Get("/notes/" + name, [text = text](const httplib::Request&, httplib::Response& res) {
          res.set_content(text, "text/html");
        });
      }
    });
    for (const std::string& url :
         {server.url("/notes/leture.htm"), "file://" + folder + "/leture.htm"}) {
      SCOPED_TRACE(url);
      testsupport::MainLoopProbe probe;
      web = WebView::create(Rect{0, 0, 320, 212});
      web->setDelegate(delegate);
      load(url);
      ASSERT_EQ(delegate->events.back(), "finish");
      cairo_surface_destroy(drawn(*web));
      ASSERT_TRUE(
          RunLoop::main()->runUntil([&] { return !web->isLoadingResources(); }, seconds(60)));
      cairo_surface_t* surface = drawn(*web);
      EXPECT_EQ(testsupport::pixelsNotOf(surface, 0, 0, 320, 212, 0x000000) > 0, true)
          << "the page is drawn";
      cairo_surface_destroy(surface);
      EXPECT_LT(probe.longestWait(), testsupport::MainLoopProbe::kAnswerSeconds);
    }
  }
}

TEST_F(WebViewDrawingTest, ASheetOnItsOwnChainOfImportsAnswersEmptyAndTheRestApplies) {
  LoopbackServer server([](httplib::Server& s) {
    auto sheet = [&s](const std::string& path, const std::string& text) {
      s.Get(path, [text](const httplib::Request&, httplib::Response& res) {
        res.set_content(text, "text/css");
      });
    };
    sheet("/notes.htm",
          "<html><head><link rel=\"stylesheet\" href=\"a.css\"></head><body>"
          "<div class=\"a\"></div><div class=\"b\"></div></body></html>");
    sheet("/a.css", "@import url(b.css);\nbody { margin: 0 } .a { height: 50px; background: red }");
    sheet("/b.css",
          "@import url(a.css);\n@import url(b.css);\n.b { height: 50px; background: blue }");
  });
  loadAll(server.url("/notes.htm"));
  cairo_surface_t* surface = drawn(*web);
  EXPECT_EQ(testsupport::pixelsNotOf(surface, 0, 0, 320, 50, 0xFF0000), 0);
  EXPECT_EQ(testsupport::pixelsNotOf(surface, 0, 50, 320, 50, 0x0000FF), 0);
  EXPECT_EQ(testsupport::pixelsNotOf(surface, 0, 100, 320, 112, kWhite), 0);
  cairo_surface_destroy(surface);
  auto paths = server.paths();
  EXPECT_EQ(std::count(paths.begin(), paths.end(), "/a.css"), 1);
  EXPECT_EQ(std::count(paths.begin(), paths.end(), "/b.css"), 1);
}

TEST_F(WebViewDrawingTest, APageBeyondTheDepthBoundIsDrawnUpToIt) {
  // Each level draws one blue line below the one before: the levels up to the bound draw, the
  // ones beyond it do not.
  std::string page = "<html><body style=\"margin: 0\">" +
                     repeat("<div style=\"border-top: 1px solid #0000ff\">", 200) +
                     "</body></html>";
  loadAll("file://" + writePage("deep.htm", page));
  cairo_surface_t* surface = drawn(*web);
  int levels = HTMLPageBounds::kMaxDepth - 2;  // beneath html and body
  EXPECT_EQ(testsupport::pixelsNotOf(surface, 0, 0, 320, levels, 0x0000FF), 0);
  EXPECT_EQ(testsupport::pixelsNotOf(surface, 0, levels, 320, 212 - levels, kWhite), 0);
  cairo_surface_destroy(surface);
}

}  // namespace
}  // namespace platform
