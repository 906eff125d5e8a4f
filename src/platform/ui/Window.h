#pragma once
// Window: the root of a view tree on the screen. It shows its root view controller's view
// below the status bar, delivers the test drivers' touches (hit-test, gesture recognizers,
// then the touched view's responder chain) and draws itself, with any alerts on screen over
// it and the status bar over all (unless the application hides it), to a PNG file at the
// screen's scale (`snapshot`).
//
// Windows start hidden; `makeKeyAndVisible` shows the window, makes it the application's key
// window and gives the root view controller its appearance calls.
//
// Orientation: the window itself stays portrait. The key window decides the interface
// orientation from the screen on show (the root controller, or the top of the presentations
// over it): it keeps the current one while that screen supports it, follows the device when the
// screen autorotates to it, and otherwise takes the screen's preferred orientation. The root
// view and the presented views are then turned and sized for it (a landscape screen is 480
// wide), and a snapshot is drawn the way a person holds the phone: 960 x 640 pixels in
// landscape.

#include <memory>
#include <string>

#include "platform/ui/View.h"

typedef struct _cairo_surface cairo_surface_t;

namespace platform {

class ViewController;

class Window : public View {
  CH_SHARED_OBJECT(Window)

 public:
  ~Window() override;

  std::shared_ptr<ViewController> rootViewController() const { return root_; }
  void setRootViewController(std::shared_ptr<ViewController> controller);

  void makeKeyAndVisible();
  void makeKeyWindow();
  bool isKeyWindow() const;
  void setHidden(bool hidden) override;

  // Delivers a tap at `point` (window coordinates) and returns the view that received it (null
  // when nothing takes touches there).
  std::shared_ptr<View> sendTap(Point point, int tapCount = 1);
  // The same for any root view (alerts are roots of their own).
  static std::shared_ptr<View> deliverTap(const std::shared_ptr<View>& root, Point point,
                                          int tapCount = 1);

  // Decides the interface orientation (key window only) and lays the full-screen views out for
  // it; the view controllers call it when a presentation starts or ends, the device when it
  // turns.
  void updateInterfaceOrientation();
  // The screen on show: the root view controller or the top of the presentations over it.
  std::shared_ptr<ViewController> topViewController() const;

  // Lays the tree out and draws it, with the alerts on screen, into a new image surface of
  // the window's size in pixels, turned upright for the interface orientation. The caller
  // destroys the surface.
  cairo_surface_t* renderToSurface();
  // Writes the drawing as a PNG file; false (with `error` set) when it cannot be written.
  bool snapshot(const std::string& path, std::string* error = nullptr);

 protected:
  explicit Window(const Rect& frame);

  Window();

 private:
  // Turns and sizes the root view and the presented views for the interface orientation.
  void layoutRootViews();

  std::shared_ptr<ViewController> root_;
};

}  // namespace platform
