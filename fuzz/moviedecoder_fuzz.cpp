// The movie frame decoder on a downloaded copy made of arbitrary bytes: the input is the
// playlist, then, after a line "@@@", the bytes of its segment "0.ts" (a playlist may name
// itself, a segment, or nothing at all). A frame is asked for, as the player's view asks, and
// must be answered (a picture or none) within the time the input's size allows and without the
// process ever holding more memory than the oracle's bound.

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <optional>
#include <string>

#include "ResourceOracle.h"
#include "ScratchHome.h"
#include "platform/foundation/RunLoop.h"
#include "platform/media/MovieFrameDecoder.h"
#include "platform/ui/Image.h"

namespace {

void write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ScratchHome home("moviedecoder");
  ResourceOracle oracle(size);
  std::string input(reinterpret_cast<const char*>(data), size);
  std::size_t split = input.find("\n@@@\n");
  write(home.path() + "/index.m3u8", input.substr(0, split));
  write(home.path() + "/0.ts",
        split == std::string::npos ? std::string() : input.substr(split + 5));
  std::optional<std::shared_ptr<platform::Image>> frame;
  {
    platform::MovieFrameDecoder decoder("file://" + home.path() + "/index.m3u8");
    decoder.requestFrame(0.1,
                         [&frame](std::shared_ptr<platform::Image> f) { frame = std::move(f); });
    platform::RunLoop::main()->runUntil([&frame] { return frame.has_value(); },
                                        platform::seconds(60));
  }
  if (!frame) __builtin_trap();
  return 0;
}
