#pragma once
// HTTPFileResponse: serves one file from disk, on its connection's queue: as file pieces the
// socket sends straight from the file (`filePieceOfLength`), or by plain descriptor reads at the
// response's offset. The file is opened when the response is made, before any head is sent, and
// that one descriptor serves the whole body; its type and length come from `fstat` of it, so a
// file that cannot be opened (at the descriptor limit, say) is known before a status promises a
// body. A file that shrinks afterwards reaches its end early and aborts, as does any failure to
// read: the connection then closes after the bytes already queued (the client sees a short
// body). Sent as file pieces, the shrinking is found by the
// socket, which closes the connection after the bytes the file still had. Aborted is final:
// every later read answers absent.
//
// Only regular files are opened; a path that names something else by the time it is opened
// (a pipe or a device, which could block the queue every connection shares) fails like a file
// that cannot be opened. Symbolic links are followed. No optional response operation is
// answered: status 200 or 206, never chunked, no extra headers (so no "Content-Type").

#include <memory>
#include <optional>
#include <string>

#include "httpserver/core/HTTPResponse.h"

class HTTPConnection;

class HTTPFileResponse : public HTTPResponse {
 public:
  // Null when there is no path or it cannot be opened as a regular file. `openError`, when
  // given, then holds the system's error number of the open, or 0 when there was no path or it
  // names something other than a regular file.
  static std::shared_ptr<HTTPFileResponse> initWithFilePath(
      const std::optional<std::string>& filePath, std::weak_ptr<HTTPConnection> connection,
      int* openError = nullptr);
  // The same for a regular file its caller has opened already; `filePath` is the path it was
  // opened by.
  static std::shared_ptr<HTTPFileResponse> initWithFile(std::shared_ptr<const SocketFile> file,
                                                        std::string filePath,
                                                        std::weak_ptr<HTTPConnection> connection);
  ~HTTPFileResponse() override;
  HTTPFileResponse(const HTTPFileResponse&) = delete;
  HTTPFileResponse& operator=(const HTTPFileResponse&) = delete;

  std::uint64_t contentLength() override { return fileLength; }
  std::uint64_t offset() override { return fileOffset; }
  void setOffset(std::uint64_t offset) override;
  std::optional<platform::Bytes> readDataOfLength(std::size_t length) override;
  std::optional<FilePiece> filePieceOfLength(std::size_t length) override;
  bool isDone() override { return fileOffset == fileLength; }

  // The path given, with symbolic links resolved (worked out when first asked: serving the file
  // never needs it).
  const std::string& filePath() const;

  // Tells the connection this response gives up, and reads nothing more.
  void abort();
  bool openFile();
  bool openFileIfNeeded();

 private:
  HTTPFileResponse(std::string filePath, std::weak_ptr<HTTPConnection> connection,
                   std::shared_ptr<const SocketFile> file);
  // Bytes left from the offset, at most `length`.
  std::size_t lengthLeft(std::size_t length) const;

  // The connection answered; not owned, since the connection owns its current response.
  const std::weak_ptr<HTTPConnection> connection;
  const std::string givenPath_;
  mutable std::optional<std::string> _filePath;  // resolved on the first ask
  const std::uint64_t fileLength;
  std::uint64_t fileOffset = 0;
  bool aborted = false;
  std::shared_ptr<const SocketFile> file_;
};
