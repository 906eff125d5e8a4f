#pragma once
// Reading drawn pictures in tests (header only, so only the test programs that draw need
// cairo): the colour of a pixel and how many pixels of a rectangle differ from a colour.
// Positions are in points of a surface drawn at `scale` pixels per point.

#include <cairo.h>

#include <cstdint>

namespace testsupport {

// The pixel at (x, y) as 0xRRGGBB (alpha dropped).
inline std::uint32_t pixelAt(cairo_surface_t* surface, double x, double y, double scale = 2) {
  cairo_surface_flush(surface);
  int stride = cairo_image_surface_get_stride(surface);
  auto* row = reinterpret_cast<const std::uint32_t*>(cairo_image_surface_get_data(surface) +
                                                     static_cast<int>(y * scale) * stride);
  return row[static_cast<int>(x * scale)] & 0xFFFFFF;
}

// The alpha of the pixel at (x, y), 0 to 255.
inline unsigned alphaAt(cairo_surface_t* surface, double x, double y, double scale = 2) {
  cairo_surface_flush(surface);
  int stride = cairo_image_surface_get_stride(surface);
  auto* row = reinterpret_cast<const std::uint32_t*>(cairo_image_surface_get_data(surface) +
                                                     static_cast<int>(y * scale) * stride);
  return row[static_cast<int>(x * scale)] >> 24;
}

// How many pixels of the rectangle (points) are not `rgb` (0xRRGGBB).
inline int pixelsNotOf(cairo_surface_t* surface, double x, double y, double width, double height,
                       std::uint32_t rgb, double scale = 2) {
  cairo_surface_flush(surface);
  int stride = cairo_image_surface_get_stride(surface);
  int maxX = cairo_image_surface_get_width(surface);
  int maxY = cairo_image_surface_get_height(surface);
  int count = 0;
  for (int py = static_cast<int>(y * scale); py < static_cast<int>((y + height) * scale); ++py) {
    if (py < 0 || py >= maxY) continue;
    auto* row =
        reinterpret_cast<const std::uint32_t*>(cairo_image_surface_get_data(surface) + py * stride);
    for (int px = static_cast<int>(x * scale); px < static_cast<int>((x + width) * scale); ++px) {
      if (px >= 0 && px < maxX && (row[px] & 0xFFFFFF) != rgb) ++count;
    }
  }
  return count;
}

}  // namespace testsupport
