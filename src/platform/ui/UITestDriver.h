#pragma once
// UITestDriver: how tests (and scripted runs) use the screens as a person would. Every driver
// call checks that what it touches is really reachable; when it is not, it throws
// AssertionFailure with a message naming what is in the way, so a screen test fails where a
// person would be stuck.
//
//   tap(view)          hit-tests at the view's centre in its window; fails when the view is not
//                      on screen or another view (an overlay, an alert) would get the touch
//   tapContent(view)   taps at the centre of something a view shows (a title, a picture) the way
//                      a person does: the touch may go to the view or to a view holding it
//   typeText(f, text)  taps the text field or text view if it is not editing, then types
//   pressReturn(f)     the keyboard's return key
//   selectRow(t, p)    scrolls the row into view and taps its cell
//   answerAlert(i)     taps button i of the alert on top
//   slide(s, v)        drags a slider to v
//   scrollTo(s, p)     drags a scroll view to an offset (paging views end on a page)
//   settle(seconds)    runs the main run loop for that much clock time (a manual clock moves)
//   rotate(o)          turns the device; the key window turns its interface when the screen on
//                      show allows it
//
// Points given to `tapAt` are points of the screen as a person holding the phone sees it (a
// snapshot's pixels halved): window coordinates in portrait, the turned screen in landscape.

#include <memory>
#include <string>

#include "platform/ui/Geometry.h"
#include "platform/ui/IndexPath.h"
#include "platform/ui/Orientation.h"

namespace platform {

class AlertView;
class ScrollView;
class Slider;
class TableView;
class TextField;
class View;
class Window;

class UITestDriver {
 public:
  static void tap(const std::shared_ptr<View>& view);
  // The same check without throwing: false, with the reason in `why`, when the tap would miss.
  static bool tryTap(const std::shared_ptr<View>& view, std::string* why = nullptr);
  // Like `tap`, but the touch may also land on a view that holds `view` (a button around its
  // title, a row around its text); fails only when something else would get it.
  static void tapContent(const std::shared_ptr<View>& view);
  static bool tryTapContent(const std::shared_ptr<View>& view, std::string* why = nullptr);
  // Taps a point of the screen as it is held (see above) on a window; returns the view that
  // received the touch.
  static std::shared_ptr<View> tapAt(Window& window, Point point);

  static void typeText(const std::shared_ptr<View>& input, const std::string& text);
  static void pressReturn(const std::shared_ptr<TextField>& field);
  static void selectRow(const std::shared_ptr<TableView>& table, const IndexPath& path);
  static void answerAlert(int buttonIndex);
  static std::shared_ptr<AlertView> topAlert();
  static void slide(const std::shared_ptr<Slider>& slider, double value);
  static void scrollTo(const std::shared_ptr<ScrollView>& scrollView, Point offset);
  static void settle(double seconds);
  static void rotate(DeviceOrientation orientation);

  // Between tests: no alerts, no first responder, a fresh application, the short screen held
  // upright.
  static void reset();

 private:
  static bool check(const std::shared_ptr<View>& view, Point* point, std::string* why,
                    bool holderMayTakeIt = false);
};

}  // namespace platform
