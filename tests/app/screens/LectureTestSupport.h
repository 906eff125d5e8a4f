#pragma once
// What the tests of the lecture screens share: a logged-in learner with one course of three
// hour-long lectures served by the fake course server (the course tree in the login model and in
// the store, as my courses leaves it), a manual clock, a player opened and brought to playing,
// and the study-log figures the tests check.

#include <memory>
#include <string>

#include "ScreenTestSupport.h"
#include "model/Course.h"
#include "model/CourseWare.h"
#include "model/ReClass.h"
#include "platform/foundation/Clock.h"
#include "screens/player/PlayVideoViewController.h"

namespace screentest {

class LectureTest : public ScreenTest {
 protected:
  static constexpr int kClassId = 301;
  static constexpr int kYear = 2014;
  // Lecture ids of the course, in list order.
  static constexpr int kFirst = 9001;
  static constexpr int kSecond = 9002;
  static constexpr int kThird = 9003;
  // Each lecture is an hour long.
  static constexpr int kLectureMinutes = 60;

  void SetUp() override;

  // A course tree of one year and one class whose lectures have the given credited minutes;
  // stored in the login model and on the device, as a course fetch leaves them.
  void setCourses(int firstMinutes, int secondMinutes = 0, int thirdMinutes = 0);
  // The course answer of the fake server for the same course with the given credited minutes.
  static std::string courseAnswer(int firstMinutes, int secondMinutes = 0, int thirdMinutes = 0);
  std::shared_ptr<CourseWare> lecture(int index) const { return (*course->cws())[index]; }

  // Presents a player for lecture `index` of the course on a plain root screen, with the list
  // when `withList`, and runs until the movie plays.
  std::shared_ptr<PlayVideoViewController> openPlayer(int index, int enterIndex, bool withList,
                                                      float localLisMins = 0);
  // Runs the main loop for `seconds` of clock time (the manual clock moves with its timers).
  static void play(double seconds);
  // Runs until `player`'s movie plays.
  static bool waitUntilPlaying(const PlayVideoViewController& player);
  // The unsent seconds of a lecture in the study log (0 without a row).
  int unsentSeconds(int cwId) const;
  // The sum of the user's unsent seconds.
  int unsentTotal() const;
  // Adds `seconds` to a lecture's study-log row (as earlier plays would have).
  void logSeconds(int cwId, int seconds) const;

  platform::ScopedManualClock clock;
  std::string mediaRoot;
  std::shared_ptr<ReClass> course;
  std::shared_ptr<platform::ViewController> presenter;
};

}  // namespace screentest
