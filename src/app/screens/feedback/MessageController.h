#pragma once
// MessageController: the feedback form ("留言与反馈"), pushed by the settings screen after an
// online login. The learner types a message into a bordered text area with a placeholder and
// sends it with "提交" (a text of spaces only is refused); "取消" leaves the screen. The server's
// "resultCode" of 1 (number or text) is success: a thank-you alert, and the screen pops itself.
// An answer that arrives after the learner left the screen changes nothing on screen. Portrait
// only; main thread only.

#include <memory>
#include <optional>
#include <string>

#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/TextView.h"
#include "platform/ui/ViewController.h"
#include "screens/common/PortraitOnly.h"

class ProgressHUD;

class MessageController : public PortraitOnly<platform::ViewController>,
                          public platform::TextViewDelegate {
  CH_SHARED_OBJECT(MessageController)

 public:
  static constexpr int kTextViewTag = 1000;
  static constexpr int kCancelTag = 1001;
  static constexpr int kSubmitTag = 1002;

  void viewDidLoad() override;
  void initNavBar();
  // Pops this screen, animated.
  void back();
  // Both buttons, told apart by tag.
  void btnClick(platform::Control& sender);

  void textViewDidChange(platform::TextView& textView) override;
  void textViewDidBeginEditing(platform::TextView& textView) override;
  void textViewDidEndEditing(platform::TextView& textView) override;
  // A touch outside the text area puts the keyboard away.
  void touchesBegan(const std::vector<platform::Touch>& touches) override;

  const std::shared_ptr<platform::TextView>& opinionTextView() const { return _opinionTextView; }
  void setOpinionTextView(std::shared_ptr<platform::TextView> v) {
    _opinionTextView = std::move(v);
  }
  const std::shared_ptr<platform::Label>& placeholderLabel() const {
    return textViewPlaceholderLab;
  }
  const std::shared_ptr<platform::Button>& submitButton() const { return submitButton_; }
  const std::shared_ptr<platform::Button>& cancelButton() const { return cancelButton_; }
  const std::shared_ptr<ProgressHUD>& progressHUD() const { return progressHUD_; }

 protected:
  MessageController() = default;

 private:
  void submit();
  void onAnswer(const platform::Dictionary& reply);

  std::shared_ptr<platform::TextView> _opinionTextView;
  std::shared_ptr<platform::Label> textViewPlaceholderLab;

  // Our own.
  std::shared_ptr<platform::Button> submitButton_;
  std::shared_ptr<platform::Button> cancelButton_;
  std::shared_ptr<ProgressHUD> progressHUD_;
};
