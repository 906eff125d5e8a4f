#pragma once
// Real picture bytes for tests that decode, drawn with cairo (header only, so only the test
// programs that draw need cairo): a PNG of one colour or of noise that does not compress (half
// of its bytes then hold about half of its rows), and a one-pixel GIF.

#include <cairo.h>

#include <cstdint>
#include <string>

namespace testsupport {

inline std::string pngBytes(int width, int height, std::uint32_t argb = 0xFF3366CC,
                            bool noise = false) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  cairo_surface_flush(surface);
  unsigned char* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  std::uint32_t seed = 12345;
  for (int y = 0; y < height; ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(data + y * stride);
    for (int x = 0; x < width; ++x) {
      seed = seed * 1664525u + 1013904223u;
      row[x] = noise ? (0xFF000000u | (seed >> 8)) : argb;
    }
  }
  cairo_surface_mark_dirty(surface);
  std::string bytes;
  cairo_surface_write_to_png_stream(
      surface,
      [](void* closure, const unsigned char* chunk, unsigned int length) {
        static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(chunk), length);
        return CAIRO_STATUS_SUCCESS;
      },
      &bytes);
  cairo_surface_destroy(surface);
  return bytes;
}

// One red pixel: a two-colour palette (red, black) and the pixel at index 0.
inline std::string redPixelGif() {
  static const unsigned char gif[] = {
      'G',  'I',  'F',  '8',  '9',  'a',  1, 0, 1, 0, 0x80, 0, 0,  // screen 1 x 1, 2-colour table
      0xFF, 0x00, 0x00, 0x00, 0x00, 0x00,                          // red, black
      ',',  0,    0,    0,    0,    1,    0, 1, 0, 0,              // image 1 x 1 at 0, 0
      2,    2,    0x44, 0x01, 0,                                   // LZW: clear, 0, end
      ';'};
  return std::string(reinterpret_cast<const char*>(gif), sizeof gif);
}

}  // namespace testsupport
