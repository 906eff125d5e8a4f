#pragma once
// ImageSource: decodes a PNG, JPEG or GIF picture (the first frame of a GIF) from bytes, all at
// once or as they arrive. An incremental source is handed the bytes received so far again and
// again (`updateData`); it learns the picture's pixel size from the header and gives, while the
// data is incomplete, the rows decoded so far as a picture of full width and partial height.
//
// Bytes of any other format, damaged pictures, pictures whose data ends before their last row,
// and pictures above `kMaxPixelCount` pixels (or wider or higher than `kMaxSide`) give no
// image: the source reports `isFailed()` and never throws. One source is used by one thread at
// a time.

#include <cstddef>
#include <memory>

#include "platform/foundation/Value.h"
#include "platform/ui/Image.h"

typedef struct _GdkPixbufLoader GdkPixbufLoader;

namespace platform {

class ImageSource {
 public:
  // Limits that keep a hostile header from making the decoder allocate without bound.
  static constexpr int kMaxSide = 32767;
  static constexpr long long kMaxPixelCount = 1LL << 26;

  ImageSource();
  ~ImageSource();
  ImageSource(const ImageSource&) = delete;
  ImageSource& operator=(const ImageSource&) = delete;

  // The whole picture in `data`, at `scale`; null when it does not decode.
  static std::shared_ptr<Image> imageWithData(const Bytes& data, double scale = 1);

  // All bytes received so far (the source feeds the decoder what it has not seen yet); `final`
  // says no more will come. Bytes after a failure or after the final call are ignored.
  void updateData(const Bytes& data, bool final);

  // The pixel size of the first image once its header is read; 0 before.
  int pixelWidth() const { return width_; }
  int pixelHeight() const { return height_; }
  bool isFailed() const { return failed_; }
  bool isComplete() const { return complete_; }

  // The first image at `scale`: the whole picture once complete, before that the rows decoded
  // so far (as wide as the picture). Null when nothing is decoded yet, or for another index.
  std::shared_ptr<Image> imageAtIndex(std::size_t index, double scale = 1) const;

 private:
  static void sizePrepared(GdkPixbufLoader* loader, int width, int height, void* self);
  static void areaUpdated(GdkPixbufLoader* loader, int x, int y, int width, int height, void* self);
  bool startLoader(const Bytes& data);
  void close();
  void fail();

  GdkPixbufLoader* loader_ = nullptr;
  std::size_t fed_ = 0;
  int width_ = 0;
  int height_ = 0;
  int decodedRows_ = 0;
  bool refused_ = false;
  bool failed_ = false;
  bool closed_ = false;
  bool complete_ = false;
};

}  // namespace platform
