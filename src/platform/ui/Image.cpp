#include "platform/ui/Image.h"

#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Mutex.h"
#include "platform/ui/ImageSource.h"

namespace platform {

namespace {

// Images are loaded from any thread that asks; the cache is shared.
Mutex cacheMutex;
std::map<std::string, std::shared_ptr<Image>>& cache() REQUIRES(cacheMutex) {
  static std::map<std::string, std::shared_ptr<Image>> images;
  return images;
}

bool endsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

cairo_surface_t* readPng(const std::string& path) {
  if (!std::filesystem::is_regular_file(path)) return nullptr;
  cairo_surface_t* surface = cairo_image_surface_create_from_png(path.c_str());
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return nullptr;
  }
  return surface;
}

std::shared_ptr<Image> load(const std::string& name) {
  std::string folder = Bundle::main().resourcePath() + "/images/";
  std::string base = endsWith(name, ".png") ? name.substr(0, name.size() - 4) : name;
  if (endsWith(base, "@2x")) {
    if (auto* s = readPng(folder + base + ".png")) return std::make_shared<Image>(name, s, 2);
    std::string plain = base.substr(0, base.size() - 3);
    if (auto* s = readPng(folder + plain + ".png")) return std::make_shared<Image>(name, s, 1);
    return std::make_shared<Image>(name, nullptr, 2);
  }
  if (auto* s = readPng(folder + base + "@2x.png")) return std::make_shared<Image>(name, s, 2);
  if (auto* s = readPng(folder + base + ".png")) return std::make_shared<Image>(name, s, 1);
  return std::make_shared<Image>(name, nullptr, 1);
}

}  // namespace

Image::Image(std::string name, cairo_surface_t* surface, double scale)
    : name_(std::move(name)), surface_(surface), scale_(scale) {
  if (surface_) {
    size_ = {cairo_image_surface_get_width(surface_) / scale_,
             cairo_image_surface_get_height(surface_) / scale_};
  }
}

Image::~Image() {
  if (surface_) cairo_surface_destroy(surface_);
}

std::shared_ptr<Image> Image::named(const std::string& name) {
  if (name.empty()) return nullptr;
  std::string key = Bundle::main().resourcePath() + "\n" + name;
  MutexLock lock(cacheMutex);
  auto it = cache().find(key);
  if (it != cache().end()) return it->second;
  auto image = load(name);
  cache()[key] = image;
  return image;
}

std::shared_ptr<Image> Image::withContentsOfFile(const std::string& path, double scale) {
  cairo_surface_t* surface = readPng(path);
  if (!surface) return nullptr;
  return std::make_shared<Image>(std::filesystem::path(path).stem().string(), surface, scale);
}

std::shared_ptr<Image> Image::imageWithData(const Bytes& data, double scale) {
  return ImageSource::imageWithData(data, scale);
}

void Image::clearCache() {
  MutexLock lock(cacheMutex);
  cache().clear();
}

bool Image::hasAlpha() const {
  return surface_ && cairo_image_surface_get_format(surface_) == CAIRO_FORMAT_ARGB32;
}

std::optional<Bytes> Image::JPEGRepresentation(double quality) const {
  if (!surface_) return std::nullopt;
  cairo_surface_flush(surface_);
  const int width = cairo_image_surface_get_width(surface_);
  const int height = cairo_image_surface_get_height(surface_);
  if (width <= 0 || height <= 0) return std::nullopt;
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height);
  if (!pixbuf) return std::nullopt;
  // Cairo keeps colours premultiplied, which is the picture laid over black.
  const unsigned char* src = cairo_image_surface_get_data(surface_);
  const int srcStride = cairo_image_surface_get_stride(surface_);
  guchar* dst = gdk_pixbuf_get_pixels(pixbuf);
  const int dstStride = gdk_pixbuf_get_rowstride(pixbuf);
  for (int y = 0; y < height; ++y) {
    auto* in =
        reinterpret_cast<const std::uint32_t*>(src + static_cast<std::size_t>(y) * srcStride);
    guchar* out = dst + static_cast<std::size_t>(y) * dstStride;
    for (int x = 0; x < width; ++x, out += 3) {
      out[0] = (in[x] >> 16) & 0xFF;
      out[1] = (in[x] >> 8) & 0xFF;
      out[2] = in[x] & 0xFF;
    }
  }
  std::string level = std::to_string(static_cast<int>(std::clamp(quality, 0.0, 1.0) * 100 + 0.5));
  gchar* buffer = nullptr;
  gsize length = 0;
  GError* error = nullptr;
  bool ok = gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &length, "jpeg", &error, "quality",
                                      level.c_str(), nullptr);
  g_object_unref(pixbuf);
  if (error) g_error_free(error);
  if (!ok || !buffer) return std::nullopt;
  Bytes bytes(reinterpret_cast<std::uint8_t*>(buffer),
              reinterpret_cast<std::uint8_t*>(buffer) + length);
  g_free(buffer);
  return bytes;
}

std::shared_ptr<Image> Image::stretchableImage(double leftCapWidth, double topCapHeight) const {
  auto copy = std::make_shared<Image>(name_, surface_ ? cairo_surface_reference(surface_) : nullptr,
                                      scale_);
  copy->leftCap_ = leftCapWidth;
  copy->topCap_ = topCapHeight;
  return copy;
}

}  // namespace platform
