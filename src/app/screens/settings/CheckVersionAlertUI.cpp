#include "screens/settings/CheckVersionAlertUI.h"

#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"

namespace {

// Hands the learner's choice to the version check. The alert keeps it (as an object associated
// with the alert view), since an alert holds its delegate weakly.
class AnswerForwarder : public platform::AlertViewDelegate {
 public:
  explicit AnswerForwarder(CheckVersionUI::ButtonHandler handler) : handler_(std::move(handler)) {}
  void alertViewClickedButtonAtIndex(platform::AlertView&, int buttonIndex) override {
    if (handler_) handler_(buttonIndex);
  }

 private:
  CheckVersionUI::ButtonHandler handler_;
};

const char kForwarderKey = 0;

}  // namespace

void CheckVersionAlertUI::showAlert(const Alert& alert, ButtonHandler onButton) {
  std::shared_ptr<AnswerForwarder> forwarder;
  if (onButton) forwarder = std::make_shared<AnswerForwarder>(std::move(onButton));
  auto view = platform::AlertView::create(alert.title, alert.message, forwarder,
                                          alert.cancelButtonTitle, alert.otherButtonTitles);
  if (forwarder) view->setAssociatedObject(&kForwarderKey, forwarder);
  view->show();
}

void CheckVersionAlertUI::openURL(const std::string& url) {
  platform::Application::sharedApplication().openURL(url);
}
