#include "httpserver/core/ChunkedBodyReader.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/foundation/Utf8.h"

ChunkedBodyReader::ChunkedBodyReader(std::uint64_t maxBodySize, std::uint32_t linesSoFar)
    : maxBodySize_(maxBodySize), lines_(linesSoFar) {}

ChunkedBodyReader::Read ChunkedBodyReader::next() const {
  switch (stage_) {
    case Stage::SizeLine:
      return {stage_, true, kMaxSizeLineLength};
    case Stage::Data:
      return {stage_, false,
              static_cast<std::size_t>(
                  std::min<std::uint64_t>(chunkSize_ - chunkReceived_, kPieceSize))};
    case Stage::DataEnd:
      return {stage_, false, 2};
    case Stage::TrailerLine:
      break;
  }
  return {Stage::TrailerLine, true, kMaxTrailerLineLength};
}

ChunkedBodyReader::Outcome ChunkedBodyReader::didRead(std::string_view bytes) {
  switch (stage_) {
    case Stage::SizeLine:
      return didReadSizeLine(bytes);
    case Stage::Data:
      return didReadData(bytes);
    case Stage::DataEnd:
      if (bytes != "\r\n") return Outcome::Invalid;
      stage_ = Stage::SizeLine;
      return Outcome::More;
    case Stage::TrailerLine:
      break;
  }
  if (++lines_ > kMaxLines) return Outcome::TooManyLines;
  return bytes.size() > 2 ? Outcome::More : Outcome::End;
}

ChunkedBodyReader::Outcome ChunkedBodyReader::didReadSizeLine(std::string_view bytes) {
  // A hexadecimal size at the start of the line; an extension after it is ignored.
  std::string line(bytes);
  const char* text = line.c_str();
  char* end = nullptr;
  errno = 0;
  unsigned long long size = std::strtoull(text, &end, 16);
  // strtoull would also take leading blanks and a sign; a size starts with a digit.
  bool valid = platform::isValidUtf8(line) && end != text && errno == 0 && !line.empty() &&
               std::isxdigit(static_cast<unsigned char>(line[0]));
  if (!valid) return Outcome::Invalid;
  chunkSize_ = size;
  chunkReceived_ = 0;
  if (chunkSize_ == 0) {
    stage_ = Stage::TrailerLine;
    return Outcome::More;
  }
  if (chunkSize_ > maxBodySize_ || received_ > maxBodySize_ - chunkSize_) return Outcome::TooLarge;
  stage_ = Stage::Data;
  return Outcome::More;
}

ChunkedBodyReader::Outcome ChunkedBodyReader::didReadData(std::string_view bytes) {
  received_ += bytes.size();
  chunkReceived_ += bytes.size();
  if (chunkReceived_ >= chunkSize_) stage_ = Stage::DataEnd;
  return Outcome::Data;
}
