#pragma once
// GraphicsContext: the drawing surface handed to `View::drawRect`, a thin layer over a cairo
// context. Coordinates are in points of the view being drawn; the context already carries the
// screen scale. Paths are built with moveTo/lineTo/arc and then filled or stroked.
//
// Shadows are recorded but not blurred: a shadow is drawn as an offset copy of the shape at the
// shadow's colour and opacity, enough to see it in a snapshot.

#include <optional>
#include <string>

#include "platform/ui/Color.h"
#include "platform/ui/Font.h"
#include "platform/ui/Geometry.h"
#include "platform/ui/TextTypes.h"

typedef struct _cairo cairo_t;

namespace platform {

class Image;

class GraphicsContext {
 public:
  explicit GraphicsContext(cairo_t* cr) : cr_(cr) {}

  cairo_t* cairo() const { return cr_; }

  void save();
  void restore();
  void translate(double x, double y);
  void scale(double sx, double sy);
  void rotate(double angle);
  void concat(const AffineTransform& t);
  void clipToRect(const Rect& r);
  void clipToRoundedRect(const Rect& r, double radius);

  void setFillColor(const Color& c) { fill_ = c; }
  void setStrokeColor(const Color& c) { stroke_ = c; }
  void setLineWidth(double w);
  enum class LineCap { Butt, Round, Square };
  void setLineCap(LineCap cap);
  void setAlpha(double alpha) { alpha_ = alpha; }
  void setShadow(Size offset, double blur, std::optional<Color> color);

  // Paths.
  void beginPath();
  void moveTo(double x, double y);
  void lineTo(double x, double y);
  // Angles in radians, 0 pointing right and growing clockwise on screen. `clockwise` is the
  // platform's own arc flag, which it defines in an upward y axis while view drawing flips y
  // downwards: on screen, 0 turns clockwise and 1 counter-clockwise. Drawing code written for the
  // platform passes its flag unchanged (a pie from -pi/2 to 0 with flag 0 is the top-right
  // quarter).
  void addArc(double cx, double cy, double radius, double start, double end, int clockwise);
  void addRect(const Rect& r);
  void addRoundedRect(const Rect& r, double radius);
  void addEllipse(const Rect& r);
  void closePath();
  void fillPath();
  void strokePath();

  void fillRect(const Rect& r);
  void strokeRect(const Rect& r);
  void fillRoundedRect(const Rect& r, double radius);
  void fillEllipse(const Rect& r);

  // Two-stop gradients between colours.
  void drawLinearGradient(Point start, Point end, const Color& from, const Color& to);
  void drawRadialGradient(Point center, double startRadius, double endRadius, const Color& from,
                          const Color& to);

  // Draws `text` in `rect`, wrapped to the rect's width (or on `maxLines` lines; 0 = any),
  // aligned horizontally, from the rect's top. Returns the height drawn.
  double drawText(const std::string& text, const Rect& rect, const Font& font, const Color& color,
                  TextAlignment alignment = TextAlignment::Left,
                  LineBreakMode mode = LineBreakMode::WordWrap, int maxLines = 0);
  // Draws an image scaled into `rect`; a missing image as its placeholder.
  void drawImage(const Image& image, const Rect& rect, double alpha = 1);
  // The placeholder of a missing picture: a grey box with a cross and the picture's name.
  void drawPlaceholder(const std::string& name, const Rect& rect);

 private:
  void setSource(const Color& c);
  void drawShadowOfPath(bool fill);

  cairo_t* cr_;
  Color fill_ = Color::blackColor();
  Color stroke_ = Color::blackColor();
  double alpha_ = 1;
  std::optional<Color> shadowColor_;
  Size shadowOffset_;
};

}  // namespace platform
