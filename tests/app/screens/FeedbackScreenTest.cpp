// The feedback form: its placeholder, the refusal of an empty text, the server's verdict in its
// three spellings, the error alert and answers that arrive after the learner left.

#include <gtest/gtest.h>

#include "ScreenTestSupport.h"
#include "model/GlobalModel.h"
#include "platform/foundation/Json.h"
#include "platform/ui/Screen.h"
#include "platform/ui/UIRecorder.h"
#include "platform/ui/UITestDriver.h"
#include "screens/feedback/MessageController.h"
#include "support/MainLoop.h"

namespace {

using platform::UITestDriver;
using testsupport::runUntil;

class FeedbackScreenTest : public screentest::ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    GlobalModel::sharedModel()->setUserId(1234);
  }
  void open() {
    root = platform::ViewController::create();
    nav = show(root);
    nav->pushViewController(form, false);
  }
  void type(const std::string& text) { UITestDriver::typeText(form->opinionTextView(), text); }
  // Sends and waits for the alert that answers it.
  void submitAndWaitForAlert(platform::UIRecorder& recorder) {
    UITestDriver::tap(form->submitButton());
    ASSERT_TRUE(runUntil([&] { return !recorder.alerts().empty(); }));
  }

  std::shared_ptr<MessageController> form = MessageController::create();
};

TEST_F(FeedbackScreenTest, FormLayout) {
  open();
  EXPECT_EQ(form->opinionTextView()->frame(), (platform::Rect{20, 10, 280, 100}));
  EXPECT_EQ(form->opinionTextView()->tag(), MessageController::kTextViewTag);
  EXPECT_EQ(form->placeholderLabel()->text(),
            "感谢您对澄衡会计继续教育的支持与关注，您的宝贵意见将帮助我们不断改进");
  EXPECT_EQ(form->submitButton()->frame(), (platform::Rect{20, 120, 100, 30}));
  EXPECT_EQ(form->submitButton()->currentTitle(), "提交");
  EXPECT_EQ(form->cancelButton()->frame(), (platform::Rect{200, 120, 100, 30}));
  EXPECT_EQ(form->cancelButton()->tag(), MessageController::kCancelTag);
  auto title = std::dynamic_pointer_cast<platform::Label>(form->navigationItem().titleView());
  ASSERT_TRUE(title);
  EXPECT_EQ(title->text(), "留言与反馈");
}

TEST_F(FeedbackScreenTest, TallScreenGivesALargerTextArea) {
  platform::Screen::mainScreen().setTall(true);
  open();
  EXPECT_EQ(form->opinionTextView()->frame().height(), 188);
  EXPECT_EQ(form->submitButton()->frame().y(), 208);
}

TEST_F(FeedbackScreenTest, PlaceholderHidesWhileThereIsText) {
  open();
  type("好");
  EXPECT_TRUE(form->placeholderLabel()->isHidden());
  form->opinionTextView()->deleteBackward();
  EXPECT_FALSE(form->placeholderLabel()->isHidden());
  type("很好");
  form->opinionTextView()->resignFirstResponder();
  EXPECT_TRUE(form->placeholderLabel()->isHidden());
}

TEST_F(FeedbackScreenTest, ATouchOutsideTheTextPutsTheKeyboardAway) {
  open();
  type("好");
  ASSERT_TRUE(form->opinionTextView()->isFirstResponder());
  UITestDriver::tapAt(*window, {160, 400});
  EXPECT_FALSE(form->opinionTextView()->isFirstResponder());
}

TEST_F(FeedbackScreenTest, BlankTextIsRefused) {
  open();
  type("   ");
  platform::UIRecorder recorder;
  UITestDriver::tap(form->submitButton());
  ASSERT_EQ(recorder.alerts().size(), 1u);
  EXPECT_EQ(recorder.alerts()[0].title, "反馈意见不能为空，请重新填写");
  EXPECT_FALSE(recorder.alerts()[0].message.size());
  EXPECT_TRUE(server.requestsTo("/api/saveRetrainServiceFeedback.html").empty());
}

TEST_F(FeedbackScreenTest, ResultCodeOneInAnySpellingIsSuccess) {
  for (const char* body :
       {R"({"resultCode": "1"})", R"({"resultCode": 1})", R"({"resultCode": 1.0})"}) {
    SCOPED_TRACE(body);
    server.setAnswer("/api/saveRetrainServiceFeedback.html", 200, body);
    form = MessageController::create();
    open();
    type(" 很 好 ");
    platform::UIRecorder recorder;
    submitAndWaitForAlert(recorder);
    EXPECT_EQ(recorder.alerts()[0].title, "提交成功，感谢您对澄衡的支持");
    EXPECT_EQ(nav->topViewController(), root) << "the form is gone";
    EXPECT_EQ(form->opinionTextView()->text(), "");
    EXPECT_FALSE(screentest::isWaitHUDShown(form->progressHUD()));
    UITestDriver::answerAlert(0);
  }
  auto sent = server.requestsTo("/api/saveRetrainServiceFeedback.html").back();
  EXPECT_EQ(sent.formParams["moduletype"], "30");
  auto message = nlohmann::json::parse(sent.formParams["message"]);
  EXPECT_EQ(message["suggestion"], " 很 好 ") << "sent exactly as typed";
}

TEST_F(FeedbackScreenTest, AnotherResultIsSilentAndTheTextStays) {
  server.setAnswer("/api/saveRetrainServiceFeedback.html", 200, R"({"resultCode": 0})");
  open();
  type("很好");
  platform::UIRecorder recorder;
  UITestDriver::tap(form->submitButton());
  ASSERT_TRUE(runUntil([&] {
    return !server.requestsTo("/api/saveRetrainServiceFeedback.html").empty() &&
           !screentest::isWaitHUDShown(form->progressHUD());
  }));
  EXPECT_TRUE(recorder.alerts().empty());
  EXPECT_EQ(form->opinionTextView()->text(), "很好");
  EXPECT_EQ(nav->topViewController(), form);
}

TEST_F(FeedbackScreenTest, ARequestErrorAsksForANetwork) {
  server.failPath("/api/saveRetrainServiceFeedback.html", 500);
  open();
  type("很好");
  platform::UIRecorder recorder;
  submitAndWaitForAlert(recorder);
  EXPECT_EQ(recorder.alerts()[0].title, "请您连接网络");
  EXPECT_FALSE(screentest::isWaitHUDShown(form->progressHUD()));
}

TEST_F(FeedbackScreenTest, ALateAnswerNeverPopsAnotherScreen) {
  open();
  type("很好");
  platform::UIRecorder recorder;
  UITestDriver::tap(form->submitButton());
  // The learner leaves by the bar's back button (the progress HUD covers the form).
  UITestDriver::tap(form->navigationItem().leftBarButtonItem()->customView());
  ASSERT_TRUE(runUntil([&] { return !recorder.alerts().empty(); }));
  EXPECT_EQ(recorder.lines(), (std::vector<std::string>{"pop MessageController",
                                                        "alert 提交成功，感谢您对澄衡的支持/"}));
  EXPECT_EQ(nav->topViewController(), root);
}

TEST_F(FeedbackScreenTest, ALateAnswerLeavesAScreenPushedAboveAlone) {
  open();
  type("很好");
  platform::UIRecorder recorder;
  UITestDriver::tap(form->submitButton());
  auto above = platform::ViewController::create();
  nav->pushViewController(above, false);
  ASSERT_TRUE(runUntil([&] { return !recorder.alerts().empty(); }));
  EXPECT_EQ(nav->topViewController(), above);
}

TEST_F(FeedbackScreenTest, AnAnswerForAFormThatIsGoneDoesNothing) {
  open();
  type("很好");
  platform::UIRecorder recorder;
  UITestDriver::tap(form->submitButton());
  nav->popViewControllerAnimated(false);
  form.reset();
  // The answer has nobody to go to; a second form's answer comes after it on the same engine.
  ASSERT_TRUE(
      runUntil([&] { return !server.requestsTo("/api/saveRetrainServiceFeedback.html").empty(); }));
  form = MessageController::create();
  nav->pushViewController(form, false);
  type("再来");
  submitAndWaitForAlert(recorder);
  EXPECT_EQ(recorder.alerts().size(), 1u);
  EXPECT_EQ(nav->topViewController(), root);
}

}  // namespace
