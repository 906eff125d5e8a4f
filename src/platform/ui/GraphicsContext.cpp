#include "platform/ui/GraphicsContext.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>

#include "platform/ui/Image.h"
#include "platform/ui/TextMeasurer.h"

namespace platform {

void GraphicsContext::save() { cairo_save(cr_); }
void GraphicsContext::restore() { cairo_restore(cr_); }
void GraphicsContext::translate(double x, double y) { cairo_translate(cr_, x, y); }
void GraphicsContext::scale(double sx, double sy) { cairo_scale(cr_, sx, sy); }
void GraphicsContext::rotate(double angle) { cairo_rotate(cr_, angle); }

void GraphicsContext::concat(const AffineTransform& t) {
  cairo_matrix_t m;
  cairo_matrix_init(&m, t.a, t.b, t.c, t.d, t.tx, t.ty);
  cairo_transform(cr_, &m);
}

void GraphicsContext::clipToRect(const Rect& r) {
  cairo_new_path(cr_);
  cairo_rectangle(cr_, r.x(), r.y(), r.width(), r.height());
  cairo_clip(cr_);
}

void GraphicsContext::clipToRoundedRect(const Rect& r, double radius) {
  cairo_new_path(cr_);
  addRoundedRect(r, radius);
  cairo_clip(cr_);
}

void GraphicsContext::setLineWidth(double w) { cairo_set_line_width(cr_, w); }

void GraphicsContext::setLineCap(LineCap cap) {
  cairo_set_line_cap(cr_, cap == LineCap::Round    ? CAIRO_LINE_CAP_ROUND
                          : cap == LineCap::Square ? CAIRO_LINE_CAP_SQUARE
                                                   : CAIRO_LINE_CAP_BUTT);
}

void GraphicsContext::setShadow(Size offset, double, std::optional<Color> color) {
  shadowOffset_ = offset;
  shadowColor_ = color;
}

void GraphicsContext::beginPath() { cairo_new_path(cr_); }
void GraphicsContext::moveTo(double x, double y) { cairo_move_to(cr_, x, y); }
void GraphicsContext::lineTo(double x, double y) { cairo_line_to(cr_, x, y); }

void GraphicsContext::addArc(double cx, double cy, double radius, double start, double end,
                             int clockwise) {
  // cairo's increasing angles turn clockwise on this y-down surface, which is the platform's
  // flag 0.
  if (clockwise) {
    cairo_arc_negative(cr_, cx, cy, radius, start, end);
  } else {
    cairo_arc(cr_, cx, cy, radius, start, end);
  }
}

void GraphicsContext::addRect(const Rect& r) {
  cairo_rectangle(cr_, r.x(), r.y(), r.width(), r.height());
}

void GraphicsContext::addRoundedRect(const Rect& r, double radius) {
  double rad = std::max(0.0, std::min(radius, std::min(r.width(), r.height()) / 2));
  if (rad <= 0) {
    addRect(r);
    return;
  }
  cairo_new_sub_path(cr_);
  cairo_arc(cr_, r.maxX() - rad, r.minY() + rad, rad, -M_PI / 2, 0);
  cairo_arc(cr_, r.maxX() - rad, r.maxY() - rad, rad, 0, M_PI / 2);
  cairo_arc(cr_, r.minX() + rad, r.maxY() - rad, rad, M_PI / 2, M_PI);
  cairo_arc(cr_, r.minX() + rad, r.minY() + rad, rad, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr_);
}

void GraphicsContext::addEllipse(const Rect& r) {
  cairo_save(cr_);
  cairo_translate(cr_, r.midX(), r.midY());
  cairo_scale(cr_, std::max(r.width() / 2, 1e-6), std::max(r.height() / 2, 1e-6));
  cairo_new_sub_path(cr_);
  cairo_arc(cr_, 0, 0, 1, 0, 2 * M_PI);
  cairo_restore(cr_);
}

void GraphicsContext::closePath() { cairo_close_path(cr_); }

void GraphicsContext::setSource(const Color& c) {
  cairo_set_source_rgba(cr_, c.red(), c.green(), c.blue(), c.alpha() * alpha_);
}

void GraphicsContext::drawShadowOfPath(bool fill) {
  if (!shadowColor_ || shadowColor_->isClear()) return;
  cairo_path_t* path = cairo_copy_path(cr_);
  cairo_save(cr_);
  cairo_translate(cr_, shadowOffset_.width, shadowOffset_.height);
  cairo_new_path(cr_);
  cairo_append_path(cr_, path);
  setSource(*shadowColor_);
  if (fill) {
    cairo_fill(cr_);
  } else {
    cairo_stroke(cr_);
  }
  cairo_restore(cr_);
  cairo_new_path(cr_);
  cairo_append_path(cr_, path);
  cairo_path_destroy(path);
}

void GraphicsContext::fillPath() {
  drawShadowOfPath(true);
  setSource(fill_);
  cairo_fill(cr_);
}

void GraphicsContext::strokePath() {
  drawShadowOfPath(false);
  setSource(stroke_);
  cairo_stroke(cr_);
}

void GraphicsContext::fillRect(const Rect& r) {
  beginPath();
  addRect(r);
  fillPath();
}

void GraphicsContext::strokeRect(const Rect& r) {
  beginPath();
  addRect(r);
  strokePath();
}

void GraphicsContext::fillRoundedRect(const Rect& r, double radius) {
  beginPath();
  addRoundedRect(r, radius);
  fillPath();
}

void GraphicsContext::fillEllipse(const Rect& r) {
  beginPath();
  addEllipse(r);
  fillPath();
}

void GraphicsContext::drawLinearGradient(Point start, Point end, const Color& from,
                                         const Color& to) {
  cairo_pattern_t* p = cairo_pattern_create_linear(start.x, start.y, end.x, end.y);
  cairo_pattern_add_color_stop_rgba(p, 0, from.red(), from.green(), from.blue(),
                                    from.alpha() * alpha_);
  cairo_pattern_add_color_stop_rgba(p, 1, to.red(), to.green(), to.blue(), to.alpha() * alpha_);
  cairo_pattern_set_extend(p, CAIRO_EXTEND_PAD);
  cairo_set_source(cr_, p);
  cairo_paint(cr_);
  cairo_pattern_destroy(p);
}

void GraphicsContext::drawRadialGradient(Point center, double startRadius, double endRadius,
                                         const Color& from, const Color& to) {
  cairo_pattern_t* p =
      cairo_pattern_create_radial(center.x, center.y, startRadius, center.x, center.y, endRadius);
  cairo_pattern_add_color_stop_rgba(p, 0, from.red(), from.green(), from.blue(),
                                    from.alpha() * alpha_);
  cairo_pattern_add_color_stop_rgba(p, 1, to.red(), to.green(), to.blue(), to.alpha() * alpha_);
  cairo_pattern_set_extend(p, CAIRO_EXTEND_PAD);
  cairo_set_source(cr_, p);
  cairo_paint(cr_);
  cairo_pattern_destroy(p);
}

double GraphicsContext::drawText(const std::string& text, const Rect& rect, const Font& font,
                                 const Color& color, TextAlignment alignment, LineBreakMode mode,
                                 int maxLines) {
  if (text.empty() || color.isClear()) return 0;
  PangoContext* context = pango_cairo_create_context(cr_);
  pango_cairo_context_set_resolution(context, 72);
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
  pango_cairo_context_set_font_options(context, options);
  cairo_font_options_destroy(options);
  PangoLayout* layout = TextMeasurer::makeLayout(context, text, font, rect.width(), mode, maxLines);
  bool truncating = mode == LineBreakMode::TruncatingHead ||
                    mode == LineBreakMode::TruncatingTail ||
                    mode == LineBreakMode::TruncatingMiddle;
  if (maxLines == 0 && truncating && rect.width() > 0 && rect.height() > 0) {
    // Any number of lines: as many as the rectangle holds, the last one truncated.
    pango_layout_set_ellipsize(layout, mode == LineBreakMode::TruncatingHead ? PANGO_ELLIPSIZE_START
                                       : mode == LineBreakMode::TruncatingMiddle
                                           ? PANGO_ELLIPSIZE_MIDDLE
                                           : PANGO_ELLIPSIZE_END);
    pango_layout_set_height(layout, static_cast<int>(rect.height() * PANGO_SCALE));
  }
  PangoRectangle logical;
  pango_layout_get_pixel_extents(layout, nullptr, &logical);
  double x = rect.x();
  double width = rect.width();
  if (pango_layout_get_width(layout) < 0) {
    // Unwrapped line: align the line itself within the rectangle.
    if (alignment == TextAlignment::Center) x += (width - logical.width) / 2;
    if (alignment == TextAlignment::Right) x += width - logical.width;
  } else {
    pango_layout_set_alignment(layout, alignment == TextAlignment::Center  ? PANGO_ALIGN_CENTER
                                       : alignment == TextAlignment::Right ? PANGO_ALIGN_RIGHT
                                                                           : PANGO_ALIGN_LEFT);
  }
  cairo_save(cr_);
  cairo_new_path(cr_);
  cairo_rectangle(cr_, rect.x(), rect.y(), rect.width(), std::max(rect.height(), 0.0));
  cairo_clip(cr_);
  cairo_move_to(cr_, x, rect.y());
  setSource(color);
  pango_cairo_show_layout(cr_, layout);
  cairo_restore(cr_);
  g_object_unref(layout);
  g_object_unref(context);
  return logical.height;
}

void GraphicsContext::drawImage(const Image& image, const Rect& rect, double alpha) {
  if (rect.isEmpty()) return;
  if (image.isMissing()) {
    drawPlaceholder(image.name(), rect);
    return;
  }
  cairo_save(cr_);
  cairo_translate(cr_, rect.x(), rect.y());
  cairo_scale(cr_, rect.width() / (image.size().width * image.scale()),
              rect.height() / (image.size().height * image.scale()));
  cairo_set_source_surface(cr_, image.surface(), 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr_), CAIRO_FILTER_GOOD);
  cairo_paint_with_alpha(cr_, alpha * alpha_);
  cairo_restore(cr_);
}

void GraphicsContext::drawPlaceholder(const std::string& name, const Rect& rect) {
  cairo_save(cr_);
  cairo_new_path(cr_);
  cairo_rectangle(cr_, rect.x(), rect.y(), rect.width(), rect.height());
  cairo_clip(cr_);
  setSource(Color::rgb255(220, 220, 220));
  cairo_paint(cr_);
  setSource(Color::rgb255(150, 150, 150));
  cairo_set_line_width(cr_, 1);
  cairo_rectangle(cr_, rect.x() + 0.5, rect.y() + 0.5, rect.width() - 1, rect.height() - 1);
  cairo_move_to(cr_, rect.minX(), rect.minY());
  cairo_line_to(cr_, rect.maxX(), rect.maxY());
  cairo_move_to(cr_, rect.maxX(), rect.minY());
  cairo_line_to(cr_, rect.minX(), rect.maxY());
  cairo_stroke(cr_);
  cairo_restore(cr_);
  double size = std::clamp(rect.height() / 3, 6.0, 12.0);
  drawText(name, rect.insetBy(2, std::max(0.0, (rect.height() - size * 1.3) / 2)),
           Font::systemFont(size), Color::rgb255(60, 60, 60), TextAlignment::Center,
           LineBreakMode::TruncatingTail, 1);
}

}  // namespace platform
