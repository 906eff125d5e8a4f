// The chunked request body framing on arbitrary bytes, read the way the connection reads its
// socket: lines up to CR LF within their limit, data in pieces of the asked length. The first
// byte picks the body cap. It must not crash; body bytes are handed over in pieces of at most
// 32 KiB, never add up past the cap, and the counts the reader keeps match what it handed over.
// A body it accepts whole, framed again in chunks of other sizes, must read back the same.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "httpserver/core/ChunkedBodyReader.h"

namespace {

void check(bool condition) {
  if (!condition) __builtin_trap();
}

// The body read from `input` with `cap`; absent unless the framing ends properly.
std::optional<std::string> readBody(std::string_view input, std::uint64_t cap) {
  ChunkedBodyReader reader(cap, 0);
  std::string body;
  std::size_t position = 0;
  for (;;) {
    const ChunkedBodyReader::Read read = reader.next();
    std::string_view rest = input.substr(position);
    std::string_view bytes;
    if (read.line) {
      std::size_t end = rest.substr(0, read.length).find("\r\n");
      if (end == std::string_view::npos) return std::nullopt;  // ends early, or too long a line
      bytes = rest.substr(0, end + 2);
    } else {
      check(read.length > 0 && read.length <= ChunkedBodyReader::kPieceSize);
      if (rest.size() < read.length) return std::nullopt;
      bytes = rest.substr(0, read.length);
    }
    position += bytes.size();
    switch (reader.didRead(bytes)) {
      case ChunkedBodyReader::Outcome::Data:
        body += bytes;
        check(body.size() == reader.received() && reader.received() <= cap);
        check(reader.chunkReceived() <= reader.chunkSize());
        break;
      case ChunkedBodyReader::Outcome::More:
        break;
      case ChunkedBodyReader::Outcome::End:
        check(body.size() == reader.received());
        return body;
      case ChunkedBodyReader::Outcome::Invalid:
      case ChunkedBodyReader::Outcome::TooLarge:
      case ChunkedBodyReader::Outcome::TooManyLines:
        return std::nullopt;
    }
  }
}

std::string framed(std::string_view body, std::size_t chunk) {
  std::string out;
  for (std::size_t at = 0; at < body.size(); at += chunk) {
    std::string_view piece = body.substr(at, chunk);
    char size[32];
    std::snprintf(size, sizeof size, "%zx;ext=1\r\n", piece.size());
    out += size;
    out += piece;
    out += "\r\n";
  }
  return out + "0\r\nTrailer: x\r\n\r\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint64_t cap = std::uint64_t{16} << (data[0] % 16);
  std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::optional<std::string> body = readBody(input, cap);
  if (!body) return 0;
  for (std::size_t chunk : {std::size_t{1}, std::size_t{7}, body->size() + 1}) {
    std::optional<std::string> again = readBody(framed(*body, chunk), cap);
    check(again && *again == *body);
  }
  return 0;
}
