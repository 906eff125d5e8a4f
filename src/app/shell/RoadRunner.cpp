#include "shell/RoadRunner.h"

#include <cairo.h>

#include <cmath>
#include <cstdio>

#include "platform/dispatch/WorkerPool.h"
#include "platform/foundation/Assert.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"
#include "platform/media/MovieFrameView.h"
#include "platform/media/WebView.h"
#include "platform/net/URLConnection.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/TextField.h"
#include "platform/ui/TextView.h"
#include "platform/ui/UITestDriver.h"
#include "platform/ui/Window.h"
#include "shell/RoadScreen.h"

namespace {

using platform::AssertionFailure;
using platform::UITestDriver;

// What the views in the tree of `view` still wait for: a movie's frame, a page or its pictures.
struct Arriving {
  bool movie = false;  // a movie view is there
  bool waiting = false;
};
void arriving(const platform::View& view, Arriving* a) {
  if (const auto* movie = dynamic_cast<const platform::MovieFrameView*>(&view)) {
    a->movie = true;
    a->waiting = a->waiting || movie->isWaitingForFrame();
  }
  if (const auto* web = dynamic_cast<const platform::WebView*>(&view)) {
    a->waiting = a->waiting || web->isLoading() || web->isLoadingResources();
  }
  for (const auto& sub : view.subviews()) arriving(*sub, a);
}

// A movie's frame is decoded off the main thread when its view is drawn, and a page's pictures
// come after the page: on a screen with either, draw once, let what is under way arrive (for the
// runner's quiet time at most), and picture the screen with it.
void settleArrivingContent(platform::Window& window) {
  Arriving before;
  arriving(window, &before);
  if (!before.movie && !before.waiting) return;
  cairo_surface_destroy(window.renderToSurface());
  platform::RunLoop::main()->runUntil(
      [&window] {
        Arriving now;
        arriving(window, &now);
        return !now.waiting;
      },
      platform::seconds(RoadRunner::kQuietSeconds));
}

const char* verbName(RoadStep::Verb verb) {
  switch (verb) {
    case RoadStep::Verb::Tap:
      return "tap";
    case RoadStep::Verb::Type:
      return "type";
    case RoadStep::Verb::Select:
      return "select";
    case RoadStep::Verb::Answer:
      return "answer";
    case RoadStep::Verb::Advance:
      return "advance";
    case RoadStep::Verb::WaitText:
    case RoadStep::Verb::WaitNotification:
      return "wait";
    case RoadStep::Verb::Scroll:
      return "scroll";
    case RoadStep::Verb::Frame:
      return "frame";
    case RoadStep::Verb::Snapshot:
      break;
  }
  return "snapshot";
}

std::string joined(const std::vector<std::string>& texts) {
  if (texts.empty()) return "nothing";
  std::string out;
  for (const auto& text : texts) out += (out.empty() ? "" : ", ") + text;
  return out;
}

std::string secondsText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", seconds);
  return text;
}

std::string rectText(const platform::Rect& rect) {
  char text[96];
  std::snprintf(text, sizeof text, "%g,%g %gx%g", rect.x(), rect.y(), rect.width(), rect.height());
  return text;
}

[[noreturn]] void notOnScreen(const RoadStep::Target& target) {
  throw AssertionFailure("nothing on screen shows " + target.describe() +
                         "; on screen: " + joined(RoadScreen::visibleTexts()));
}

template <class T>
std::shared_ptr<T> firstOfKind(const RoadStep::Target& target, const char* kind) {
  auto views = RoadScreen::find(target);
  if (views.empty()) notOnScreen(target);
  for (const auto& view : views)
    if (auto found = std::dynamic_pointer_cast<T>(view)) return found;
  throw AssertionFailure(target.describe() + " is on screen but is no " + kind);
}

}  // namespace

RoadRunner::RoadRunner(RoadScript script, std::string outputFolder)
    : script_(std::move(script)), folder_(std::move(outputFolder)) {
  auto awaited = script_.awaitedNotifications();
  if (awaited.empty()) return;
  {
    platform::MutexLock lock(mutex_);
    for (const auto& name : awaited) posted_[name] = 0;
  }
  // Every name, from whatever thread posts it: a notice may come before its wait begins.
  token_ = platform::NotificationCenter::defaultCenter().addObserver(
      "", [this](const platform::Notification& n) {
        platform::MutexLock lock(mutex_);
        if (auto found = posted_.find(n.name); found != posted_.end()) ++found->second;
      });
}

RoadRunner::~RoadRunner() = default;

int RoadRunner::postedCount(const std::string& name) {
  platform::MutexLock lock(mutex_);
  return posted_[name];
}

int RoadRunner::passedCount() const {
  int passed = 0;
  for (const auto& record : records_) passed += record.passed ? 1 : 0;
  return passed;
}

bool RoadRunner::run() {
  platform::assertMainThread("RoadRunner::run");
  counters_.sample();
  int number = 0;
  for (const auto& step : script_.steps()) {
    Record record;
    record.number = ++number;
    record.step = step;
    try {
      perform(step);
      record.passed = true;
    } catch (const std::exception& e) {
      record.failure = e.what();
    }
    awaitAnswers();
    counters_.sample();
    std::string error;
    record.picture = picture(number, step, &error);
    if (record.picture.empty() && record.passed) {
      record.passed = false;
      record.failure = error;
    }
    const bool passed = record.passed;
    records_.push_back(std::move(record));
    if (!passed) return false;
  }
  return true;
}

void RoadRunner::perform(const RoadStep& step) {
  switch (step.verb) {
    case RoadStep::Verb::Tap:
      tap(step);
      break;
    case RoadStep::Verb::Type:
      type(step);
      break;
    case RoadStep::Verb::Select:
      select(step);
      break;
    case RoadStep::Verb::Answer:
      answer(step);
      break;
    case RoadStep::Verb::Scroll:
      scroll(step);
      break;
    case RoadStep::Verb::Advance:
      settle(step.seconds);
      return;
    case RoadStep::Verb::WaitText:
    case RoadStep::Verb::WaitNotification:
      waitFor(step);
      return;
    case RoadStep::Verb::Frame:
      checkFrame(step);
      return;
    case RoadStep::Verb::Snapshot:
      return;
  }
  settle(kSettleSeconds);
}

void RoadRunner::settle(double seconds) {
  // An answer that came in while the clock moves would land at a clock time that depends on
  // how quick the machine was (a lecture would start playing, a sync be dated, anywhere in the
  // stretch); holding the clock while it travels lands it where the step asked for it.
  platform::RunLoop::main()->runFor(platform::seconds(seconds), &RoadRunner::isQuiet,
                                    platform::seconds(kQuietSeconds));
}

bool RoadRunner::isQuiet() {
  return platform::URLConnection::transfersInFlight() == 0 &&
         platform::OperationQueue::operationsInFlight() == 0 &&
         platform::dispatch::WorkerPool::shared().jobsInFlight() == 0;
}

void RoadRunner::tap(const RoadStep& step) {
  auto views = RoadScreen::find(*step.target);
  if (views.empty()) notOnScreen(*step.target);
  std::string firstWhy;
  for (const auto& view : views) {
    std::string why;
    if (UITestDriver::tryTapContent(view, &why)) return;
    if (firstWhy.empty()) firstWhy = why;
  }
  throw AssertionFailure(firstWhy);
}

void RoadRunner::type(const RoadStep& step) {
  auto views = RoadScreen::find(*step.target);
  if (views.empty()) notOnScreen(*step.target);
  for (const auto& view : views) {
    if (std::dynamic_pointer_cast<platform::TextField>(view) ||
        std::dynamic_pointer_cast<platform::TextView>(view)) {
      UITestDriver::typeText(view, step.text);
      return;
    }
  }
  throw AssertionFailure(step.target->describe() + " is on screen but takes no text");
}

void RoadRunner::select(const RoadStep& step) {
  auto table = step.target ? firstOfKind<platform::TableView>(*step.target, "table")
                           : RoadScreen::frontTable();
  if (!table) throw AssertionFailure("no table is on screen");
  UITestDriver::selectRow(table, platform::IndexPath{step.section, step.row});
}

void RoadRunner::answer(const RoadStep& step) {
  auto alert = UITestDriver::topAlert();
  if (!alert) throw AssertionFailure("no alert is on screen");
  if (step.buttonIndex) {
    if (*step.buttonIndex >= alert->numberOfButtons())
      throw AssertionFailure("the alert has no button " + std::to_string(*step.buttonIndex) +
                             "; its buttons: " + joined(alert->buttonTitles()));
    UITestDriver::answerAlert(*step.buttonIndex);
    return;
  }
  const auto& titles = alert->buttonTitles();
  for (std::size_t i = 0; i < titles.size(); ++i) {
    if (titles[i] == step.text) {
      UITestDriver::answerAlert(static_cast<int>(i));
      return;
    }
  }
  throw AssertionFailure("the alert has no button \"" + step.text +
                         "\"; its buttons: " + joined(titles));
}

void RoadRunner::scroll(const RoadStep& step) {
  auto view = step.target ? firstOfKind<platform::ScrollView>(*step.target, "scroll view")
                          : RoadScreen::frontScrollView();
  if (!view) throw AssertionFailure("no scroll view is on screen");
  UITestDriver::scrollTo(view, {step.x, step.y});
}

void RoadRunner::awaitAnswers() {
  // Real time only: the clock, and with it study time and animations, stays where it is.
  platform::RunLoop::main()->runUntil([] { return isQuiet() && !RoadScreen::showsActivity(); },
                                      platform::seconds(kQuietSeconds));
}

void RoadRunner::checkFrame(const RoadStep& step) {
  auto views = RoadScreen::find(*step.target);
  if (views.empty()) notOnScreen(*step.target);
  const platform::Rect wanted{step.x, step.y, step.width, step.height};
  const platform::Rect found = RoadScreen::frameOnScreen(*views.front());
  // Layout works in whole and half points; a smaller difference is rounding, not a place.
  constexpr double kSlack = 0.25;
  auto near = [&](double a, double b) { return std::abs(a - b) <= kSlack; };
  if (near(found.x(), wanted.x()) && near(found.y(), wanted.y()) &&
      near(found.width(), wanted.width()) && near(found.height(), wanted.height()))
    return;
  throw AssertionFailure(step.target->describe() + " lies at " + rectText(found) + ", not at " +
                         rectText(wanted));
}

void RoadRunner::waitFor(const RoadStep& step) {
  auto loop = platform::RunLoop::main();
  const auto limit = platform::seconds(step.seconds);
  if (step.verb == RoadStep::Verb::WaitNotification) {
    const int wanted = used_[step.text] + 1;
    if (!loop->runUntil([&] { return postedCount(step.text) >= wanted; }, limit)) {
      throw AssertionFailure("\"" + step.text + "\" was not posted within " +
                             secondsText(step.seconds));
    }
    used_[step.text] = wanted;
    return;
  }
  RoadStep::Target target;
  target.text = step.text;
  if (!loop->runUntil([&] { return !RoadScreen::find(target).empty(); }, limit)) {
    throw AssertionFailure("\"" + step.text + "\" did not come on screen within " +
                           secondsText(step.seconds) +
                           "; on screen: " + joined(RoadScreen::visibleTexts()));
  }
}

std::string RoadRunner::picture(int number, const RoadStep& step, std::string* error) {
  auto window = platform::Application::sharedApplication().keyWindow();
  if (!window) {
    *error = "there is no key window to draw";
    return "";
  }
  char name[64];
  std::snprintf(name, sizeof name, "%02d-%s.png", number, verbName(step.verb));
  settleArrivingContent(*window);
  if (!window->snapshot(platform::Paths::join(folder_, name), error)) return "";
  return name;
}
