#include "platform/ui/Image.h"

#include <cairo.h>

#include <filesystem>
#include <map>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Mutex.h"

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

void Image::clearCache() {
  MutexLock lock(cacheMutex);
  cache().clear();
}

std::shared_ptr<Image> Image::stretchableImage(double leftCapWidth, double topCapHeight) const {
  auto copy = std::make_shared<Image>(name_, surface_ ? cairo_surface_reference(surface_) : nullptr,
                                      scale_);
  copy->leftCap_ = leftCapWidth;
  copy->topCap_ = topCapHeight;
  return copy;
}

}  // namespace platform
