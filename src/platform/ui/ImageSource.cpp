#include "platform/ui/ImageSource.h"

#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace platform {

namespace {

// The decoder is chosen by the signature, never by gdk-pixbuf's guessing, so bytes of any other
// format (and the loaders behind them) are never reached.
constexpr std::size_t kSignatureLength = 8;

const char* formatOf(const Bytes& data) {
  static const std::uint8_t png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (data.size() >= sizeof png && std::memcmp(data.data(), png, sizeof png) == 0) return "png";
  if (data.size() >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) return "jpeg";
  if (data.size() >= 6 &&
      (std::memcmp(data.data(), "GIF87a", 6) == 0 || std::memcmp(data.data(), "GIF89a", 6) == 0))
    return "gif";
  return nullptr;
}

// The first `rows` rows of `pixbuf` as a cairo surface: premultiplied ARGB when the picture has
// alpha, RGB otherwise.
cairo_surface_t* surfaceFromPixbuf(GdkPixbuf* pixbuf, int rows) {
  const int width = gdk_pixbuf_get_width(pixbuf);
  const int channels = gdk_pixbuf_get_n_channels(pixbuf);
  const bool alpha = gdk_pixbuf_get_has_alpha(pixbuf);
  if (gdk_pixbuf_get_bits_per_sample(pixbuf) != 8 || channels < (alpha ? 4 : 3)) return nullptr;
  cairo_surface_t* surface =
      cairo_image_surface_create(alpha ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24, width, rows);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return nullptr;
  }
  cairo_surface_flush(surface);
  const guchar* src = gdk_pixbuf_read_pixels(pixbuf);
  const int srcStride = gdk_pixbuf_get_rowstride(pixbuf);
  unsigned char* dst = cairo_image_surface_get_data(surface);
  const int dstStride = cairo_image_surface_get_stride(surface);
  for (int y = 0; y < rows; ++y) {
    const guchar* in = src + static_cast<std::size_t>(y) * srcStride;
    auto* out = reinterpret_cast<std::uint32_t*>(dst + static_cast<std::size_t>(y) * dstStride);
    for (int x = 0; x < width; ++x, in += channels) {
      std::uint32_t a = alpha ? in[3] : 0xFF;
      auto premultiply = [a](std::uint32_t c) { return (c * a + 127) / 255; };
      out[x] =
          (a << 24) | (premultiply(in[0]) << 16) | (premultiply(in[1]) << 8) | premultiply(in[2]);
    }
  }
  cairo_surface_mark_dirty(surface);
  return surface;
}

}  // namespace

ImageSource::ImageSource() = default;

ImageSource::~ImageSource() {
  close();
  if (loader_) g_object_unref(loader_);
}

std::shared_ptr<Image> ImageSource::imageWithData(const Bytes& data, double scale) {
  ImageSource source;
  source.updateData(data, true);
  if (!source.isComplete()) return nullptr;
  return source.imageAtIndex(0, scale);
}

void ImageSource::sizePrepared(GdkPixbufLoader* loader, int width, int height, void* self) {
  auto* source = static_cast<ImageSource*>(self);
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide ||
      static_cast<long long>(width) * height > kMaxPixelCount) {
    // A zero size makes every loader refuse the picture before it allocates the pixels.
    source->refused_ = true;
    gdk_pixbuf_loader_set_size(loader, 0, 0);
    return;
  }
  source->width_ = width;
  source->height_ = height;
}

void ImageSource::areaUpdated(GdkPixbufLoader*, int, int y, int, int height, void* self) {
  auto* source = static_cast<ImageSource*>(self);
  source->decodedRows_ = std::clamp(y + height, source->decodedRows_, source->height_);
}

bool ImageSource::startLoader(const Bytes& data) {
  const char* format = formatOf(data);
  if (!format) return false;
  loader_ = gdk_pixbuf_loader_new_with_type(format, nullptr);
  if (!loader_) return false;
  g_signal_connect(loader_, "size-prepared", G_CALLBACK(&ImageSource::sizePrepared), this);
  g_signal_connect(loader_, "area-updated", G_CALLBACK(&ImageSource::areaUpdated), this);
  return true;
}

void ImageSource::updateData(const Bytes& data, bool final) {
  if (failed_ || closed_) return;
  if (!loader_) {
    if (data.size() < kSignatureLength && !final) return;
    if (!startLoader(data)) {
      fail();
      return;
    }
  }
  if (data.size() > fed_) {
    bool ok = gdk_pixbuf_loader_write(loader_, data.data() + fed_, data.size() - fed_, nullptr);
    fed_ = data.size();
    if (!ok || refused_) {
      fail();
      return;
    }
  }
  if (!final) return;
  GError* error = nullptr;
  bool ok = gdk_pixbuf_loader_close(loader_, &error);
  closed_ = true;
  if (error) g_error_free(error);
  // The PNG and JPEG decoders accept data that ends early and leave the missing rows undefined:
  // a picture is whole only when every row was decoded.
  if (!ok || refused_ || !gdk_pixbuf_loader_get_pixbuf(loader_) || width_ == 0 ||
      decodedRows_ < height_) {
    failed_ = true;
    return;
  }
  complete_ = true;
}

void ImageSource::close() {
  if (!loader_ || closed_) return;
  closed_ = true;
  // An unfinished picture ends with an error nobody needs.
  GError* error = nullptr;
  gdk_pixbuf_loader_close(loader_, &error);
  if (error) g_error_free(error);
}

void ImageSource::fail() {
  failed_ = true;
  close();
}

std::shared_ptr<Image> ImageSource::imageAtIndex(std::size_t index, double scale) const {
  if (index != 0 || failed_ || !loader_ || decodedRows_ <= 0) return nullptr;
  GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader_);
  if (!pixbuf || gdk_pixbuf_get_width(pixbuf) != width_ ||
      gdk_pixbuf_get_height(pixbuf) < decodedRows_)
    return nullptr;
  cairo_surface_t* surface = surfaceFromPixbuf(pixbuf, complete_ ? height_ : decodedRows_);
  if (!surface) return nullptr;
  return std::make_shared<Image>(std::string(), surface, scale);
}

}  // namespace platform
