#pragma once
// HTTPResponse: what every answer with a body offers its connection. The connection asks for the
// content length, positions the response at the start of a byte range and pulls the body piece
// by piece (never more than it asks for), on its own queue.
//
// The optional operations answer "not implemented" (an empty optional) by default; the
// connection then uses its defaults: no delayed head, status 200, no extra headers, not chunked.
// A response may call back into its connection from any thread: `responseHasAvailableData` when
// data or its head can go now, `responseDidAbort` to end the connection after the writes
// already queued (both are queued to the connection's queue).

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"
#include "sockets/dispatch/SocketFile.h"

class HTTPResponse {
 public:
  virtual ~HTTPResponse() = default;

  // Total body length; not asked when the response is chunked.
  virtual std::uint64_t contentLength() = 0;
  // Position of the next byte `readDataOfLength` returns.
  virtual std::uint64_t offset() = 0;
  virtual void setOffset(std::uint64_t offset) = 0;
  // Up to `length` bytes from the current offset, advancing it; absent or empty when nothing is
  // available now.
  virtual std::optional<platform::Bytes> readDataOfLength(std::size_t length) = 0;
  // Every byte has been returned.
  virtual bool isDone() = 0;

  // A stretch of an open file that holds the next body bytes.
  struct FilePiece {
    std::shared_ptr<const SocketFile> file;
    std::uint64_t offset = 0;
    std::size_t length = 0;
  };
  // For a response whose body is a file's bytes: up to `length` bytes from the current offset,
  // advancing it as `readDataOfLength` does, but left in the file for the socket to send from
  // (no copy through memory). Absent: the connection reads the bytes with `readDataOfLength`
  // (the default).
  virtual std::optional<FilePiece> filePieceOfLength(std::size_t) { return std::nullopt; }

  // true holds the head back until the response calls `responseHasAvailableData`.
  virtual std::optional<bool> delayResponseHeaders() { return std::nullopt; }
  // Status of a reply that is not a byte-range reply.
  virtual std::optional<int> status() { return std::nullopt; }
  // Copied into the head (and into error replies while this response is current), overriding
  // "Date" and "Accept-Ranges".
  virtual std::optional<std::map<std::string, std::string>> httpHeaders() { return std::nullopt; }
  // Length unknown: the body goes out in chunked transfer coding and "Range" is ignored.
  virtual std::optional<bool> isChunked() { return std::nullopt; }
  // The last write of the response has completed, or the connection died or was torn down while
  // this response was current. May be called more than once.
  virtual void connectionDidClose() {}
};
