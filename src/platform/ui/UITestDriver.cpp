#include "platform/ui/UITestDriver.h"

#include "platform/foundation/Assert.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Slider.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/TextView.h"
#include "platform/ui/Window.h"

namespace platform {

namespace {

View* rootOf(View* view) {
  while (view->superviewPointer()) view = view->superviewPointer();
  return view;
}

bool fail(std::string* why, const std::string& text) {
  if (why) *why = text;
  return false;
}

}  // namespace

bool UITestDriver::check(const std::shared_ptr<View>& view, Point* point, std::string* why,
                         bool holderMayTakeIt) {
  if (!view) return fail(why, "tap on a null view");
  View* root = rootOf(view.get());
  auto alert = AlertView::topAlert();
  bool inAlert = alert && root == alert.get();
  for (const auto& other : AlertView::visibleAlerts()) {
    if (other.get() == root && other != alert) {
      return fail(why, "tap on " + view->description() + ": its alert is covered by the alert \"" +
                           alert->title().value_or("") + "\"");
    }
  }
  if (!inAlert) {
    Window* window = view->window();
    if (!window) return fail(why, "tap on " + view->description() + ": it is not in a window");
    if (window->isHidden())
      return fail(why, "tap on " + view->description() + ": its window is hidden");
    if (alert) {
      return fail(why, "tap on " + view->description() + ": the alert \"" +
                           alert->title().value_or("") + "/" + alert->message().value_or("") +
                           "\" is on screen and would get the touch");
    }
  }
  for (View* v = view.get(); v; v = v->superviewPointer()) {
    if (v == root && dynamic_cast<Window*>(v)) break;
    if (v->isHidden() || v->alpha() < 0.01) {
      return fail(why, "tap on " + view->description() + ": " +
                           (v == view.get() ? std::string("it") : v->description()) + " is hidden");
    }
  }
  root->layoutIfNeeded();
  Rect b = view->bounds();
  Point p = view->convertPointToWindow(b.center());
  auto hit = root->hitTest(root->convertPointFromWindow(p));
  if (!hit) {
    return fail(why, "tap on " + view->description() + " at " + toString(p) +
                         ": nothing there takes touches");
  }
  const bool holderTakesIt = holderMayTakeIt && view->isDescendantOfView(hit.get());
  if (!hit->isDescendantOfView(view.get()) && !holderTakesIt) {
    return fail(why, "tap on " + view->description() + " at " + toString(p) +
                         ": the touch would go to " + hit->description());
  }
  *point = p;
  return true;
}

bool UITestDriver::tryTap(const std::shared_ptr<View>& view, std::string* why) {
  assertMainThread("UITestDriver::tryTap");
  Point p;
  if (!check(view, &p, why)) return false;
  auto root = std::static_pointer_cast<View>(rootOf(view.get())->shared_from_this());
  Window::deliverTap(root, p);
  return true;
}

bool UITestDriver::tryTapContent(const std::shared_ptr<View>& view, std::string* why) {
  assertMainThread("UITestDriver::tryTapContent");
  Point p;
  if (!check(view, &p, why, true)) return false;
  auto root = std::static_pointer_cast<View>(rootOf(view.get())->shared_from_this());
  Window::deliverTap(root, p);
  return true;
}

void UITestDriver::tapContent(const std::shared_ptr<View>& view) {
  assertMainThread("UITestDriver::tapContent");
  std::string why;
  if (!tryTapContent(view, &why)) throw AssertionFailure(why);
}

void UITestDriver::tap(const std::shared_ptr<View>& view) {
  assertMainThread("UITestDriver::tap");
  std::string why;
  if (!tryTap(view, &why)) throw AssertionFailure(why);
}

std::shared_ptr<View> UITestDriver::tapAt(Window& window, Point point) {
  assertMainThread("UITestDriver::tapAt");
  Point onScreen = Screen::mainScreen().screenPointFromInterface(point);
  if (auto alert = AlertView::topAlert()) return Window::deliverTap(alert, onScreen);
  return window.sendTap(onScreen);
}

void UITestDriver::typeText(const std::shared_ptr<View>& input, const std::string& text) {
  assertMainThread("UITestDriver::typeText");
  if (auto field = std::dynamic_pointer_cast<TextField>(input)) {
    if (!field->isFirstResponder()) tap(field);
    assertThat(field->isFirstResponder(), "typeText: " + field->description() + " is not editing");
    field->insertText(text);
    return;
  }
  if (auto textView = std::dynamic_pointer_cast<TextView>(input)) {
    if (!textView->isFirstResponder()) tap(textView);
    assertThat(textView->isFirstResponder(),
               "typeText: " + textView->description() + " is not editing");
    textView->insertText(text);
    return;
  }
  throw AssertionFailure("typeText: " + (input ? input->description() : std::string("null")) +
                         " takes no text");
}

void UITestDriver::pressReturn(const std::shared_ptr<TextField>& field) {
  assertMainThread("UITestDriver::pressReturn");
  assertThat(field && field->isFirstResponder(), "pressReturn: the field is not editing");
  field->pressReturn();
}

void UITestDriver::selectRow(const std::shared_ptr<TableView>& table, const IndexPath& path) {
  assertMainThread("UITestDriver::selectRow");
  assertThat(table != nullptr, "selectRow on a null table");
  assertThat(path.section >= 0 && path.section < table->numberOfSections() && path.row >= 0 &&
                 path.row < table->numberOfRowsInSection(path.section),
             "selectRow: the table has no row " + path.description());
  table->scrollToRowAtIndexPath(path, TableViewScrollPosition::None, false);
  auto cell = table->cellForRowAtIndexPath(path);
  assertThat(cell != nullptr, "selectRow: row " + path.description() + " was not realised");
  tap(cell);
}

std::shared_ptr<AlertView> UITestDriver::topAlert() { return AlertView::topAlert(); }

void UITestDriver::answerAlert(int buttonIndex) {
  assertMainThread("UITestDriver::answerAlert");
  auto alert = AlertView::topAlert();
  assertThat(alert != nullptr, "answerAlert: no alert is on screen");
  alert->answer(buttonIndex);
}

void UITestDriver::slide(const std::shared_ptr<Slider>& slider, double value) {
  assertMainThread("UITestDriver::slide");
  Point p;
  std::string why;
  if (!check(slider, &p, &why)) throw AssertionFailure("slide: " + why);
  slider->userSlide(value);
}

void UITestDriver::scrollTo(const std::shared_ptr<ScrollView>& scrollView, Point offset) {
  assertMainThread("UITestDriver::scrollTo");
  Point p;
  std::string why;
  if (!check(scrollView, &p, &why)) throw AssertionFailure("scrollTo: " + why);
  scrollView->userScroll(offset);
  scrollView->layoutIfNeeded();
}

void UITestDriver::settle(double s) { RunLoop::main()->runFor(seconds(s)); }

void UITestDriver::rotate(DeviceOrientation orientation) {
  assertMainThread("UITestDriver::rotate");
  Device::currentDevice().setOrientation(orientation);
}

void UITestDriver::reset() {
  assertMainThread("UITestDriver::reset");
  if (auto responder = Responder::currentFirstResponder()) responder->resignFirstResponder();
  Application::reset();
  Screen::mainScreen().resetOrientation();
  Device::currentDevice().resetOrientation();
}

}  // namespace platform
