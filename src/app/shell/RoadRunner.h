#pragma once
// RoadRunner: plays a RoadScript on the launched application through the UI test drivers, the
// way a person would use the screens, and draws the key window to a PNG after every step
// ("<NN>-<verb>.png" in the output folder). It stops at the first step that fails: a driver
// that finds the touch blocked, a target nowhere on screen, a wait that runs out. The failing
// step still gets its picture, so the screen where the road broke can be seen.
//
// Acting steps (tap, type, select, answer, scroll) let half a second of clock time pass after
// acting, so animations end and short notices are caught in the picture. The clock moves only
// while the application is quiet (`isQuiet`: no HTTP transfer, no operation on an operation
// queue, no job on the worker pool): whenever it is not, the runner waits in real time (up to
// kQuietSeconds per step) before moving the clock on, so an answer (a lecture becoming playable
// and starting to play, a sync's date) lands at the clock time of the step that asked for it.
// Before every picture it also waits, in real time, until the application is quiet and no wait
// indicator spins on screen. A screen waiting for a server then shows the answer, not a state
// that depends on how quick the machine was, and two runs of a road draw the same pictures,
// also side by side on a loaded machine. The summary's figures come from RoadCounters. Main
// thread only; the application must be launched first.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Mutex.h"
#include "platform/foundation/NotificationCenter.h"
#include "shell/RoadCounters.h"
#include "shell/RoadScript.h"

class RoadRunner {
 public:
  static constexpr double kSettleSeconds = 0.5;
  // How long, in real time, a step's clock waits at most for the application to be quiet, and a
  // picture for quiet, the wait indicators, a movie's frame and a page's pictures. Generous: on
  // a quick machine nothing waits near it, and on a loaded one (tests side by side) a shorter
  // bound let a frame come late and the picture differ between two runs.
  static constexpr double kQuietSeconds = 30;

  struct Record {
    int number = 0;  // 1-based
    RoadStep step;
    std::string picture;  // file name in the output folder; empty when none could be drawn
    bool passed = false;
    std::string failure;  // why the step failed
  };

  RoadRunner(RoadScript script, std::string outputFolder);
  ~RoadRunner();
  RoadRunner(const RoadRunner&) = delete;
  RoadRunner& operator=(const RoadRunner&) = delete;

  // Runs the steps in order; true when every step passed.
  bool run();

  const std::vector<Record>& records() const { return records_; }
  int stepCount() const { return static_cast<int>(script_.steps().size()); }
  int passedCount() const;
  const RoadCounters& counters() const { return counters_; }

 private:
  void perform(const RoadStep& step);
  void tap(const RoadStep& step);
  void type(const RoadStep& step);
  void select(const RoadStep& step);
  void answer(const RoadStep& step);
  void scroll(const RoadStep& step);
  void waitFor(const RoadStep& step);
  void checkFrame(const RoadStep& step);
  // Lets `seconds` of clock time pass, moving the clock only while the application is quiet.
  void settle(double seconds);
  // No HTTP transfer under way and no job on the worker threads: nothing goes on in real time.
  static bool isQuiet();
  void awaitAnswers();
  std::string picture(int number, const RoadStep& step, std::string* error);

  int postedCount(const std::string& name) EXCLUDES(mutex_);

  RoadScript script_;
  std::string folder_;
  RoadCounters counters_;
  std::vector<Record> records_;
  // How often each awaited notification was posted (from any thread), and how many postings
  // the waits have used up.
  platform::Mutex mutex_;
  std::map<std::string, int> posted_ GUARDED_BY(mutex_);
  std::map<std::string, int> used_;
  // Last: the observer goes before what it counts into.
  std::unique_ptr<platform::NotificationCenter::Token> token_;
};
