#include "webimage/ImageForceDecode.h"

#include <cairo.h>

#include <cmath>

#include "platform/ui/Screen.h"

std::shared_ptr<platform::Image> ImageForceDecode::decodedImageWithImage(
    const std::shared_ptr<platform::Image>& image) {
  if (!image || image->isMissing()) return nullptr;
  const double scale = platform::Screen::mainScreen().scale();
  const int width = static_cast<int>(std::lround(image->size().width * scale));
  const int height = static_cast<int>(std::lround(image->size().height * scale));
  if (width <= 0 || height <= 0) return nullptr;
  cairo_surface_t* surface = cairo_image_surface_create(
      image->hasAlpha() ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24, width, height);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return nullptr;
  }
  cairo_t* cr = cairo_create(surface);
  cairo_scale(cr, static_cast<double>(width) / cairo_image_surface_get_width(image->surface()),
              static_cast<double>(height) / cairo_image_surface_get_height(image->surface()));
  cairo_set_source_surface(cr, image->surface(), 0, 0);
  // Scaled up, the edge pixels must not blend with the transparent outside.
  cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
  cairo_paint(cr);
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  return std::make_shared<platform::Image>(image->name(), surface, scale);
}
