#pragma once
// ChunkedBodyReader: the framing of a request body in chunked transfer coding, apart from the
// socket. It says which read comes next (a line of at most so many bytes, ending in CR LF, or
// exactly so many bytes) and takes what that read gave, answering with body bytes, the end of
// the body, or why the body is refused. The connection drives it with its socket reads; the
// fuzz target drives it from a buffer the same way.
//
// A size line starts with a hexadecimal number (an extension after it is ignored) and is at most
// 200 bytes; chunk data is read in pieces of at most 32 KiB; each chunk ends with CR LF; the
// last (size 0) is followed by trailer lines, which count on from the head's lines (at most 100
// in all, each at most 8190 bytes), up to an empty line. Chunks adding up past `maxBodySize`
// refuse the body before their data is read.

#include <cstddef>
#include <cstdint>
#include <string_view>

class ChunkedBodyReader {
 public:
  // Where in the framing the next read is.
  enum class Stage { SizeLine, Data, DataEnd, TrailerLine };
  struct Read {
    Stage stage;
    bool line;  // up to and including CR LF, at most `length` bytes; else exactly that
    std::size_t length;
  };
  enum class Outcome {
    More,          // read `next()`
    Data,          // the bytes read are body bytes; then read `next()`
    End,           // the body is complete
    Invalid,       // bad framing
    TooLarge,      // the chunks add up past the cap
    TooManyLines,  // too many trailer lines
  };

  static constexpr std::size_t kMaxSizeLineLength = 200;
  static constexpr std::size_t kMaxTrailerLineLength = 8190;
  static constexpr std::uint32_t kMaxLines = 100;
  static constexpr std::size_t kPieceSize = 32 * 1024;

  ChunkedBodyReader(std::uint64_t maxBodySize, std::uint32_t linesSoFar);

  Read next() const;
  // What the read `next()` asked for gave.
  Outcome didRead(std::string_view bytes);

  std::uint64_t received() const { return received_; }
  std::uint64_t chunkSize() const { return chunkSize_; }
  std::uint64_t chunkReceived() const { return chunkReceived_; }
  std::uint32_t lines() const { return lines_; }

 private:
  Outcome didReadSizeLine(std::string_view line);
  Outcome didReadData(std::string_view bytes);

  const std::uint64_t maxBodySize_;
  Stage stage_ = Stage::SizeLine;
  std::uint64_t received_ = 0;
  std::uint64_t chunkSize_ = 0;
  std::uint64_t chunkReceived_ = 0;
  std::uint32_t lines_;
};
