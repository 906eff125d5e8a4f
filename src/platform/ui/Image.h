#pragma once
// Image: a picture of the application's resources, found by name under
// "<resources>/images/<name>.png". On this scale-2 screen the "@2x" variant is preferred; a name
// may carry the ".png" extension or the "@2x" marker itself. An image whose file is missing is
// still an Image: it has no size and draws as a labelled placeholder of the rectangle it is
// drawn into, so a screen with missing pictures stays readable in a snapshot.
//
// Pictures also come from bytes (PNG, JPEG or GIF, decoded by `ImageSource`; bytes that do not
// decode give no image) and go back to bytes as JPEG. Images never change once made, so any
// thread may read them.

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"
#include "platform/ui/Geometry.h"

typedef struct _cairo_surface cairo_surface_t;

namespace platform {

class Image {
 public:
  // Null only for an empty name; a missing file gives a placeholder image.
  static std::shared_ptr<Image> named(const std::string& name);
  // A picture read from a PNG file; null when it cannot be read.
  static std::shared_ptr<Image> withContentsOfFile(const std::string& path, double scale = 1);
  // A picture decoded from PNG, JPEG or GIF bytes (the first frame of a GIF); null when the bytes
  // do not decode.
  static std::shared_ptr<Image> imageWithData(const Bytes& data, double scale = 1);
  // Forgets cached images (tests that change the resource folder).
  static void clearCache();

  ~Image();

  const std::string& name() const { return name_; }
  bool isMissing() const { return surface_ == nullptr; }
  // Size in points (pixels divided by the scale); zero when missing.
  Size size() const { return size_; }
  double scale() const { return scale_; }
  cairo_surface_t* surface() const { return surface_; }
  // Whether the pixels carry an alpha channel (pictures without one are drawn opaque).
  bool hasAlpha() const;

  // The picture as JPEG bytes at `quality` (0 to 1); absent for a missing picture or when
  // encoding fails. Transparent pixels come out black, as the platform's encoder does.
  std::optional<Bytes> JPEGRepresentation(double quality) const;

  // The same picture marked as stretchable with caps (kept for drawing; the caps stay as they
  // are while the middle stretches).
  std::shared_ptr<Image> stretchableImage(double leftCapWidth, double topCapHeight) const;
  double leftCapWidth() const { return leftCap_; }
  double topCapHeight() const { return topCap_; }

  // Takes the reference to `surface` (null: a missing picture).
  Image(std::string name, cairo_surface_t* surface, double scale);

 private:
  std::string name_;
  cairo_surface_t* surface_ = nullptr;
  double scale_ = 1;
  Size size_;
  double leftCap_ = 0;
  double topCap_ = 0;
};

}  // namespace platform
