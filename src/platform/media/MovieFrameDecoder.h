#pragma once
// MovieFrameDecoder: the picture of a movie at a given time, decoded with FFmpeg's libraries
// from the movie's own URL (an HLS playlist of MPEG-TS segments over HTTP, or a local file), off
// the main thread. The stream stays open between requests, so later frames seek within it.
//
// Promises:
// - `requestFrame` never blocks: opening, reading over the network and decoding run on a serial
//   queue of the worker pool; the completion runs on the main run loop.
// - A newer request makes older ones that have not started yet answer nothing; only the newest
//   request's completion runs.
// - A stream that cannot be opened or decoded answers a null frame; nothing throws.
// - After the decoder's end no completion runs, and a read under way is interrupted instead of
//   being waited for.
// Made and used on the main thread.

#include <functional>
#include <memory>
#include <string>

namespace platform {

class Image;

class MovieFrameDecoder {
 public:
  using Completion = std::function<void(std::shared_ptr<Image> frame)>;

  explicit MovieFrameDecoder(std::string url);
  ~MovieFrameDecoder();
  MovieFrameDecoder(const MovieFrameDecoder&) = delete;
  MovieFrameDecoder& operator=(const MovieFrameDecoder&) = delete;

  // The frame shown at `seconds` from the movie's start: the last frame that starts at or
  // before it (the first frame for a time before it).
  void requestFrame(double seconds, Completion completion);
  // Whether a request has not answered yet.
  bool isDecoding() const;

 private:
  struct Stream;
  std::shared_ptr<Stream> stream_;
};

}  // namespace platform
