#include "screens/feedback/MessageController.h"

#include <algorithm>

#include "model/GlobalModel.h"
#include "platform/ui/NavigationController.h"
#include "screens/common/ApplicationServices.h"
#include "screens/common/ScreenHUD.h"
#include "screens/common/ScreenLook.h"

namespace {

constexpr const char* kPlaceholder =
    "感谢您对澄衡会计继续教育的支持与关注，您的宝贵意见将帮助我们不断改进";

std::shared_ptr<platform::Button> formButton(const platform::Rect& frame, const char* background,
                                             const char* title, int tag) {
  auto button = platform::Button::buttonWithType(platform::ButtonType::Custom);
  button->setBackgroundImage(platform::Image::named(background));
  button->setTitle(std::string(title));
  button->setFrame(frame);
  button->setTag(tag);
  return button;
}

}  // namespace

void MessageController::viewDidLoad() {
  ViewController::viewDidLoad();
  auto& root = *view();
  root.setBackgroundColor(platform::Color::whiteColor());
  initNavBar();
  const bool tall = screenlook::isTallScreen();

  _opinionTextView = platform::TextView::create(platform::Rect{20, 10, 280, tall ? 188.0 : 100.0});
  _opinionTextView->setDelegate(std::dynamic_pointer_cast<TextViewDelegate>(shared_from_this()));
  _opinionTextView->setTag(kTextViewTag);
  _opinionTextView->layer().setBorderColor(platform::Color::lightGrayColor());
  _opinionTextView->layer().setBorderWidth(1);
  root.addSubview(_opinionTextView);

  textViewPlaceholderLab = platform::Label::create(platform::Rect{8, 6, 264, 30});
  textViewPlaceholderLab->setText(kPlaceholder);
  textViewPlaceholderLab->setNumberOfLines(3);
  textViewPlaceholderLab->setFont(platform::Font::systemFont(11));
  textViewPlaceholderLab->setTextColor(platform::Color::lightGrayColor());
  textViewPlaceholderLab->setBackgroundColor(platform::Color::clearColor());
  _opinionTextView->addSubview(textViewPlaceholderLab);

  auto self = std::static_pointer_cast<MessageController>(shared_from_this());
  const double buttonsY = tall ? 208 : 120;
  submitButton_ = formButton({20, buttonsY, 100, 30}, "btn_bg@2x.png", "提交", kSubmitTag);
  submitButton_->setTintColor(platform::Color::whiteColor());
  submitButton_->addTarget(self, &MessageController::btnClick,
                           platform::ControlEvent::TouchUpInside);
  root.addSubview(submitButton_);
  cancelButton_ = formButton({200, buttonsY, 100, 30}, "btn_bg1@2x.png", "取消", kCancelTag);
  cancelButton_->setTitleColor(platform::Color::blackColor());
  cancelButton_->addTarget(self, &MessageController::btnClick,
                           platform::ControlEvent::TouchUpInside);
  root.addSubview(cancelButton_);
}

void MessageController::initNavBar() {
  navigationItem().setTitleView(screenlook::titleLabel({110, 0, 100, 44}, "留言与反馈"));
  navigationItem().setLeftBarButtonItem(
      screenlook::backButtonItem(screenlook::weakAction(*this, &MessageController::back)));
}

void MessageController::back() { screenlook::popScreen(*this); }

void MessageController::textViewDidChange(platform::TextView& textView) {
  textViewPlaceholderLab->setHidden(!textView.text().empty());
}

void MessageController::textViewDidBeginEditing(platform::TextView&) {
  textViewPlaceholderLab->setHidden(true);
}

void MessageController::textViewDidEndEditing(platform::TextView& textView) {
  if (textView.text().empty()) textViewPlaceholderLab->setHidden(false);
}

void MessageController::touchesBegan(const std::vector<platform::Touch>&) {
  if (auto text = view()->viewWithTag(kTextViewTag)) text->resignFirstResponder();
}

void MessageController::btnClick(platform::Control& sender) {
  if (sender.tag() == kSubmitTag) {
    submit();
  } else if (sender.tag() == kCancelTag) {
    back();
  }
}

void MessageController::submit() {
  const std::string& text = _opinionTextView->text();
  if (std::all_of(text.begin(), text.end(), [](char c) { return c == ' '; })) {
    screenlook::showAlert(std::string("反馈意见不能为空，请重新填写"), std::nullopt, "确定");
    return;
  }
  screenhud::showWaitHUD(progressHUD_, view(), "请稍候");
  auto services = ApplicationServices::shared();
  if (!services || !services->netWork()) return;
  // The request is not cancelled when the learner leaves: its answer then finds no screen.
  std::weak_ptr<MessageController> weak =
      std::static_pointer_cast<MessageController>(shared_from_this());
  services->netWork()->getMessage(
      std::to_string(GlobalModel::sharedModel()->userId()), text,
      [weak](const platform::Dictionary& reply) {
        if (auto self = weak.lock()) self->onAnswer(reply);
      },
      [weak](const platform::Error&) {
        auto self = weak.lock();
        if (!self) return;
        screenhud::hideWaitHUD(self->progressHUD_);
        screenlook::showAlert(std::string("请您连接网络"), std::nullopt, "确定");
      });
}

void MessageController::onAnswer(const platform::Dictionary& reply) {
  const platform::Value* code = platform::find(reply, "resultCode");
  if (!code || code->stringValue() != "1") {
    screenhud::hideWaitHUD(progressHUD_);
    return;
  }
  screenlook::showAlert(std::string("提交成功，感谢您对澄衡的支持"), std::nullopt, "确定");
  _opinionTextView->setText({});
  // Pop only this screen, and only while it is the one on top: a late answer must not take
  // another screen away.
  auto nav = navigationController();
  if (nav && nav->topViewController().get() == this) nav->popViewControllerAnimated(true);
  screenhud::hideWaitHUD(progressHUD_);
}
