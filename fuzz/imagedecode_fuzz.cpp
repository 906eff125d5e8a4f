// Picture bytes from the network or the disk cache: decoded whole, and fed to an incremental
// source in pieces as a progressive download would (the first byte of the input picks the
// piece size). Undecodable bytes give no picture; nothing may crash, and a picture that does
// decode must have the size its header promised.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/ui/Image.h"
#include "platform/ui/ImageSource.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  platform::Bytes all(data, data + size);
  auto whole = platform::Image::imageWithData(all);

  std::size_t piece = size > 0 ? 1 + data[0] % 64 : 1;
  platform::ImageSource source;
  platform::Bytes fed;
  for (std::size_t at = 0; at < size; at += piece) {
    fed.insert(fed.end(), data + at, data + std::min(size, at + piece));
    source.updateData(fed, fed.size() == size);
    if (auto partial = source.imageAtIndex(0)) {
      if (partial->size().width != source.pixelWidth()) std::abort();
    }
  }
  if (size == 0) source.updateData(fed, true);
  if (whole && source.isComplete()) {
    auto incremental = source.imageAtIndex(0);
    if (!incremental || incremental->size() != whole->size()) std::abort();
  }
  if (whole && (whole->size().width != source.pixelWidth() && source.isComplete())) std::abort();
  return 0;
}
