#pragma once
// RoadStep: one step of a scripted learner's road, as RoadScript reads it from its line. A step
// acts on the screen (tap, type, select a row, answer an alert, scroll), moves the clock, waits
// for something, checks where something lies, or only takes a picture; every step ends with a
// picture of the screen.

#include <optional>
#include <string>

struct RoadStep {
  enum class Verb {
    Tap,
    Type,
    Select,
    Answer,
    Advance,
    WaitText,
    WaitNotification,
    Scroll,
    Frame,
    Snapshot
  };

  // What a step points at on the screen, as a person would name it.
  struct Target {
    enum class Kind {
      Text,     // a view showing this text: a label, a button's title, a field's text or hint
      Tag,      // a view with this tag ("#12")
      Picture,  // a view showing the picture of this name ("@btn_logout")
      Class,    // a view of this class, not of a class derived from it ("%MirelTabBar")
    };
    Kind kind = Kind::Text;
    std::string text;  // the text, the picture's name or the class name
    int tag = 0;

    // How the script wrote it: "\"登录\"", "#12", "@btn_logout", "%MirelTabBar".
    std::string describe() const;
  };

  Verb verb = Verb::Snapshot;
  int line = 0;        // 1-based line of the script
  std::string source;  // the line as written, without surrounding blanks

  std::optional<Target> target;    // tap, type, select (the table), scroll (the scroll view), frame
  std::string text;                // typed text, notification name, caption, answer's button title
  std::optional<int> buttonIndex;  // answer by index
  int section = 0;
  int row = 0;
  double seconds = 0;  // advance: clock time; waits: the real-time limit
  double x = 0;        // scroll offset; frame: the expected origin in window points
  double y = 0;
  double width = 0;  // frame: the expected size in points
  double height = 0;
};
