#pragma once
// RoadScript: a learner's road for the scripted run, read from text. One step per line; blank
// lines and lines starting with "#" are skipped; words are separated by blanks, and a text with
// blanks is written in double quotes ("\"" and "\\" escape a quote and a backslash).
//
//   tap TARGET                         tap what a person sees (see below)
//   type TARGET "text"                 type into the text field or text view TARGET
//   select SECTION ROW [TARGET]        select a row of the front table (or of TARGET)
//   answer INDEX | answer "title"      answer the alert on top by button index or title
//   advance SECONDS                    let SECONDS of clock time pass (the run's clock is manual)
//   wait "text" [SECONDS]              until a view showing the text is on screen
//   wait notification NAME [SECONDS]   until NAME has been posted once more than waited for
//                                      before (postings since the run began count)
//   scroll X Y [TARGET]                drag the front scroll view (or TARGET) to offset X,Y
//   frame TARGET X Y WIDTH HEIGHT      check that the front-most view showing TARGET lies at
//                                      X,Y with that size, in the window's points (the screen's
//                                      top-left corner is 0,0, the status bar included)
//   snapshot "caption"                 only a picture
//
// TARGET is "text" (a label, a button's title, a field's text or placeholder), #TAG (a view's
// tag), @NAME (a view showing the picture NAME, such as a picture button) or %CLASS (a view of
// that class, such as %MirelTabBar). Waits give up after
// SECONDS of real time (default 20).
//
// Parsing checks every line before anything runs, so a typo fails at once with its line.

#include <optional>
#include <string>
#include <vector>

#include "shell/RoadStep.h"

class RoadScript {
 public:
  static constexpr double kDefaultWaitSeconds = 20;

  // The steps of `text`; absent with `error` set ("line 3: ...") when a line is not a step.
  static std::optional<RoadScript> parse(const std::string& text, std::string* error);
  // Reads and parses the file at `path`.
  static std::optional<RoadScript> load(const std::string& path, std::string* error);

  const std::vector<RoadStep>& steps() const { return steps_; }
  // The notification names some step waits for.
  std::vector<std::string> awaitedNotifications() const;

 private:
  std::vector<RoadStep> steps_;
};
