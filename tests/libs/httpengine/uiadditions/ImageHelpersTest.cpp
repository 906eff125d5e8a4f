// The engine's UI additions: picture helpers (fetching, decoding, image views, the error alert)
// and the host over the application, through which an operation holds a background task from
// start to end and shows a local notification for a failure in the background.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "httpengine/HttpEngine.h"
#include "httpengine/uiadditions/AlertViewHttpEngineAdditions.h"
#include "httpengine/uiadditions/ApplicationHttpEngineHost.h"
#include "httpengine/uiadditions/HttpEngineImageAdditions.h"
#include "httpengine/uiadditions/HttpOperationImageAdditions.h"
#include "httpengine/uiadditions/ImageViewHttpEngineAdditions.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/ImageView.h"
#include "support/MainLoop.h"
#include "support/Pictures.h"
#include "support/ScriptedServer.h"

using platform::Application;
using platform::Error;
using platform::Image;
using platform::RunLoop;
using platform::Size;
using testsupport::runUntil;
using testsupport::ScriptedReply;
using testsupport::ScriptedRequest;
using testsupport::ScriptedServer;

namespace {

ScriptedReply pictures(const ScriptedRequest& r) {
  if (r.path() == "/pic.png" || r.path() == "/held.png") {
    ScriptedReply reply = ScriptedReply::text(200, testsupport::pngBytes(6, 4), "image/png");
    reply.gated = r.path() == "/held.png";
    return reply;
  }
  if (r.path() == "/junk") return ScriptedReply::text(200, "no picture here");
  return ScriptedReply::text(404, "gone");
}

// What one image request reported.
struct Delivery {
  int calls = 0;
  std::shared_ptr<Image> image;
  std::string url;
  bool cached = true;
  bool onMain = true;
  std::optional<Error> error;

  HttpEngineImageAdditions::ImageBlock completion() {
    return [this](const std::shared_ptr<Image>& i, const std::string& u, bool c) {
      ++calls;
      image = i;
      url = u;
      cached = c;
      onMain = onMain && RunLoop::isMainThread();
    };
  }
  HttpOperation::ResponseErrorBlock failure() {
    return [this](const HttpOperation::Ptr&, const Error& e) {
      ++calls;
      error = e;
    };
  }
};

class ImageHelpersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Application::reset();
    ApplicationHttpEngineHost::install();
  }
  void TearDown() override {
    server.releaseReplies();
    ImageViewHttpEngineAdditions::setDefaultEngine(nullptr);
    platform::AlertView::dismissAllWithoutAnswer();
    HttpEngineHost::install(nullptr);
    Application::reset();
  }
  HttpOperation::Ptr imageAtURL(const std::optional<std::string>& u,
                                HttpEngineImageAdditions::ImageBlock completion,
                                HttpOperation::ResponseErrorBlock failure = nullptr) {
    return HttpEngineImageAdditions::imageAtURL(*engine, u, std::move(completion),
                                                std::move(failure));
  }
  std::string url(const std::string& path) { return server.url(path); }

  ScriptedServer server{pictures};
  std::shared_ptr<HttpEngine> engine = HttpEngine::create();
};

TEST_F(ImageHelpersTest, EveryFormOfImageAtUrlHandsThePictureOnTheMainThread) {
  Delivery plain, sized, short1, short2;
  auto a = HttpEngineImageAdditions::imageAtURL(*engine, url("/pic.png"), plain.completion(),
                                                plain.failure());
  auto b = HttpEngineImageAdditions::imageAtURL(*engine, url("/pic.png?sized"), Size{100, 100},
                                                sized.completion(), sized.failure());
  auto c =
      HttpEngineImageAdditions::imageAtURL(*engine, url("/pic.png?short"), short1.completion());
  auto d = HttpEngineImageAdditions::imageAtURL(*engine, url("/pic.png?sized-short"), Size{1, 1},
                                                short2.completion());
  ASSERT_TRUE(a && b && c && d);
  ASSERT_TRUE(runUntil([&] { return plain.calls && sized.calls && short1.calls && short2.calls; }));
  for (Delivery* got : {&plain, &sized, &short1, &short2}) {
    ASSERT_TRUE(got->image);
    EXPECT_EQ(got->image->size(), (Size{6, 4})) << "the size argument is not used";
    EXPECT_FALSE(got->cached);
    EXPECT_TRUE(got->onMain);
    EXPECT_EQ(got->calls, 1);
  }
  EXPECT_EQ(plain.url, url("/pic.png"));
  EXPECT_EQ(sized.url, url("/pic.png?sized"));
}

TEST_F(ImageHelpersTest, UndecodableBytesGiveNoPictureAndFailuresGoToTheErrorCallback) {
  Delivery junk, sizedJunk, missing;
  imageAtURL(url("/junk"), junk.completion(), junk.failure());
  HttpEngineImageAdditions::imageAtURL(*engine, url("/junk?sized"), Size{4, 4},
                                       sizedJunk.completion(), sizedJunk.failure());
  imageAtURL(url("/missing"), missing.completion(), missing.failure());
  auto quiet =
      HttpEngineImageAdditions::imageAtURL(*engine, url("/missing?quiet"), Delivery().completion());
  ASSERT_TRUE(runUntil([&] { return junk.calls && sizedJunk.calls && missing.calls; }));
  EXPECT_EQ(junk.image, nullptr);
  EXPECT_FALSE(junk.error);
  EXPECT_EQ(sizedJunk.image, nullptr);
  ASSERT_TRUE(missing.error);
  EXPECT_EQ(missing.error->code(), 404);
  EXPECT_EQ(missing.image, nullptr);
  ASSERT_TRUE(runUntil([&] { return quiet->isFinished(); })) << "its failure is dropped";

  EXPECT_EQ(imageAtURL(std::nullopt, Delivery().completion()), nullptr);
  EXPECT_EQ(imageAtURL("not a url", Delivery().completion()), nullptr);
}

TEST_F(ImageHelpersTest, ResponseImageAndTheDecompressedOne) {
  auto op = HttpOperation::make(url("/pic.png"));
  EXPECT_EQ(HttpOperationImageAdditions::responseImage(*op), nullptr) << "no bytes yet";
  std::optional<std::shared_ptr<Image>> early;
  HttpOperationImageAdditions::decompressedResponseImageOfSize(
      *op, {}, [&](const std::shared_ptr<Image>& i) { early = i; });
  ASSERT_TRUE(runUntil([&] { return early.has_value(); }));
  EXPECT_EQ(*early, nullptr);

  bool finished = false;
  op->addCompletionHandler([&](const HttpOperation::Ptr&) { finished = true; }, nullptr);
  engine->enqueueOperation(op);
  ASSERT_TRUE(runUntil([&] { return finished; }));
  ASSERT_TRUE(HttpOperationImageAdditions::responseImage(*op));
  EXPECT_EQ(HttpOperationImageAdditions::responseImage(*op)->size(), (Size{6, 4}));
  std::shared_ptr<Image> decoded;
  bool onMain = false;
  HttpOperationImageAdditions::decompressedResponseImageOfSize(
      *op, {320, 480}, [&](const std::shared_ptr<Image>& i) {
        decoded = i;
        onMain = RunLoop::isMainThread();
      });
  ASSERT_TRUE(runUntil([&] { return decoded != nullptr; }));
  EXPECT_TRUE(onMain);
  EXPECT_EQ(decoded->size(), (Size{6, 4}));
}

TEST_F(ImageHelpersTest, AStartedOperationHoldsABackgroundTaskUntilItEnds) {
  Application& app = Application::sharedApplication();
  Delivery got;
  auto op = imageAtURL(url("/held.png"), got.completion());
  ASSERT_TRUE(runUntil([&] { return server.requestCount() == 1; }));
  EXPECT_EQ(app.runningBackgroundTaskCount(), 1u);
  EXPECT_NE(op->backgroundTaskId(), Application::kBackgroundTaskInvalid);
  server.releaseReplies();
  ASSERT_TRUE(runUntil([&] { return got.calls == 1; }));
  ASSERT_TRUE(runUntil([&] { return app.runningBackgroundTaskCount() == 0; }));
  EXPECT_EQ(op->backgroundTaskId(), Application::kBackgroundTaskInvalid);

  auto cancelledFirst = HttpOperation::make(url("/pic.png"));
  cancelledFirst->cancel();
  engine->enqueueOperation(cancelledFirst);
  ASSERT_TRUE(runUntil([&] { return cancelledFirst->isFinished(); }));
  ASSERT_TRUE(runUntil([&] { return app.runningBackgroundTaskCount() == 0; }))
      << "an operation cancelled before it started ends its task at once";
}

TEST_F(ImageHelpersTest, RunningOutOfBackgroundTimeCancelsTheOperation) {
  Application& app = Application::sharedApplication();
  Delivery got;
  auto op = imageAtURL(url("/held.png"), got.completion(), got.failure());
  ASSERT_TRUE(runUntil([&] { return server.requestCount() == 1; }));
  app.expireBackgroundTasks();
  ASSERT_TRUE(runUntil([&] { return op->isCancelled(); }));
  EXPECT_TRUE(op->isFinished());
  EXPECT_EQ(app.runningBackgroundTaskCount(), 0u);
  server.releaseReplies();
  ASSERT_TRUE(server.waitForReplies(1));
  runUntil([] { return RunLoop::main()->pendingCount() == 0; }, 1);
  EXPECT_EQ(got.calls, 0) << "a cancelled operation calls no handler";
}

TEST_F(ImageHelpersTest, AFailureInTheBackgroundShowsALocalNotification) {
  platform::LocalNotification own{"传输失败", "打开", std::nullopt, {}};
  struct Case {
    const char* name;
    bool background;
    bool ownNotification;
    bool showOnError;
    std::optional<platform::LocalNotification> shown;
  };
  platform::LocalNotification generic{
      Error(platform::kURLErrorDomain, 404).localizedDescription(), "Dismiss", std::nullopt, {}};
  std::vector<Case> cases{
      {"in front", false, true, true, std::nullopt},
      {"own notification", true, true, false, own},
      {"own wins over the generic one", true, true, true, own},
      {"generic one", true, false, true, generic},
      {"not asked for", true, false, false, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Application::reset();
    Application& app = Application::sharedApplication();
    auto op = HttpOperation::make(url("/fail"));
    if (c.ownNotification) op->setLocalNotification(own);
    op->setShouldShowLocalNotificationOnError(c.showOnError);
    std::optional<Error> failed;
    op->addCompletionHandler(nullptr,
                             [&](const HttpOperation::Ptr&, const Error& e) { failed = e; });
    if (c.background) app.enterBackground();
    engine->enqueueOperation(op);
    ASSERT_TRUE(runUntil([&] { return failed.has_value(); }));
    EXPECT_EQ(app.presentedLocalNotifications(),
              c.shown ? std::vector<platform::LocalNotification>{*c.shown}
                      : std::vector<platform::LocalNotification>{});
  }
}

TEST_F(ImageHelpersTest, AnImageViewShowsItsPlaceholderThenThePicture) {
  auto placeholder = std::make_shared<Image>("placeholder", nullptr, 1);
  auto view = platform::ImageView::create(platform::Rect{0, 0, 40, 40});
  EXPECT_EQ(ImageViewHttpEngineAdditions::setImageFromURL(view, url("/pic.png"), placeholder),
            nullptr)
      << "no engine given and no default one: nothing is asked";
  EXPECT_EQ(view->image(), placeholder);

  ImageViewHttpEngineAdditions::setDefaultEngine(engine);
  auto held = ImageViewHttpEngineAdditions::setImageFromURL(view, url("/held.png"), placeholder);
  ASSERT_TRUE(held);
  EXPECT_EQ(ImageViewHttpEngineAdditions::imageFetchOperation(*view), held);
  ASSERT_TRUE(runUntil([&] { return server.requestCount() == 1; }));
  auto fetch = ImageViewHttpEngineAdditions::setImageFromURL(view, url("/pic.png"));
  EXPECT_TRUE(held->isCancelled()) << "a new fetch cancels the one before";
  EXPECT_EQ(ImageViewHttpEngineAdditions::imageFetchOperation(*view), fetch);
  EXPECT_EQ(view->image(), placeholder) << "no placeholder given: the view keeps what it shows";
  ASSERT_TRUE(runUntil([&] { return view->image() != placeholder; }));
  EXPECT_EQ(view->image()->size(), (Size{6, 4}));

  auto other = platform::ImageView::create(platform::Rect{0, 0, 10, 10});
  auto junk =
      ImageViewHttpEngineAdditions::setImageFromURL(other, url("/junk"), placeholder, engine, true);
  ASSERT_TRUE(runUntil([&] { return junk->isFinished(); }));
  runUntil([] { return RunLoop::main()->pendingCount() == 0; }, 1);
  EXPECT_EQ(other->image(), placeholder) << "bytes that do not decode leave the placeholder";
}

TEST_F(ImageHelpersTest, TheErrorAlertShowsTheDescriptionAndTheSuggestion) {
  Error error(platform::kURLErrorDomain, -1009,
              {{platform::kLocalizedDescriptionKey, platform::Value("似乎已断开与互联网的连接。")},
               {platform::kLocalizedRecoverySuggestionKey, platform::Value("请检查网络")}});
  auto alert = AlertViewHttpEngineAdditions::showWithError(error);
  EXPECT_EQ(platform::AlertView::topAlert(), alert);
  EXPECT_EQ(alert->title(), "似乎已断开与互联网的连接。");
  EXPECT_EQ(alert->message(), "请检查网络");
  EXPECT_EQ(alert->buttonTitles(), (std::vector<std::string>{"Dismiss"}));
  EXPECT_EQ(alert->cancelButtonIndex(), 0);
  EXPECT_EQ(alert->delegate(), nullptr);

  auto plain = AlertViewHttpEngineAdditions::showWithError(Error("Domain", 3));
  EXPECT_EQ(plain->title(), Error("Domain", 3).localizedDescription());
  EXPECT_EQ(plain->message(), std::nullopt);
}

}  // namespace
