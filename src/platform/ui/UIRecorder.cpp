#include "platform/ui/UIRecorder.h"

#include <algorithm>

namespace platform {

namespace {
std::vector<UIRecorder*>& active() {
  static std::vector<UIRecorder*> recorders;
  return recorders;
}
}  // namespace

UIRecorder::UIRecorder() { active().push_back(this); }

UIRecorder::~UIRecorder() {
  auto& list = active();
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

std::vector<UIRecorder::Event> UIRecorder::eventsOfKind(Kind kind) const {
  std::vector<Event> result;
  for (const auto& e : events_) {
    if (e.kind == kind) result.push_back(e);
  }
  return result;
}

std::vector<std::string> UIRecorder::lines() const {
  std::vector<std::string> result;
  for (const auto& e : events_) {
    switch (e.kind) {
      case Kind::AlertShown:
        result.push_back("alert " + e.title + "/" + e.message);
        break;
      case Kind::AlertAnswered:
        result.push_back("answer " + std::to_string(e.buttonIndex) + " " + e.title + "/" +
                         e.message);
        break;
      case Kind::Push:
        result.push_back("push " + e.className);
        break;
      case Kind::Pop:
        result.push_back("pop " + e.className);
        break;
      case Kind::Present:
        result.push_back("present " + e.className);
        break;
      case Kind::PresentIgnored:
        result.push_back("present ignored " + e.className);
        break;
      case Kind::Dismiss:
        result.push_back("dismiss " + e.className);
        break;
      case Kind::Root:
        result.push_back("root " + e.className);
        break;
    }
  }
  return result;
}

void UIRecorder::record(const Event& event) {
  for (auto* recorder : active()) recorder->events_.push_back(event);
}

}  // namespace platform
