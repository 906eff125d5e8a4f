#pragma once
// UIRecorder: a test's record of what the screens did: alerts shown and answered, navigation
// pushes and pops, modal presentations and dismissals, window roots. While a recorder lives,
// every such event is appended to it (several recorders each get every event).

#include <string>
#include <vector>

namespace platform {

class UIRecorder {
 public:
  enum class Kind { AlertShown, AlertAnswered, Push, Pop, Present, PresentIgnored, Dismiss, Root };

  struct Event {
    Kind kind;
    std::string className;  // the controller's class, or "AlertView"
    std::string title;
    std::string message;
    std::vector<std::string> buttons;
    int tag = 0;
    int buttonIndex = 0;
  };

  UIRecorder();
  ~UIRecorder();
  UIRecorder(const UIRecorder&) = delete;
  UIRecorder& operator=(const UIRecorder&) = delete;

  const std::vector<Event>& events() const { return events_; }
  std::vector<Event> eventsOfKind(Kind kind) const;
  // The alerts shown, in order.
  std::vector<Event> alerts() const { return eventsOfKind(Kind::AlertShown); }
  // "push LoginScreen", "pop LoginScreen", "present Player", "alert 提示/请检查网络", ...
  std::vector<std::string> lines() const;
  void clear() { events_.clear(); }

  static void record(const Event& event);

 private:
  std::vector<Event> events_;
};

}  // namespace platform
