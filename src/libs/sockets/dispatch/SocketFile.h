#pragma once
// SocketFile: an open regular file that a DispatchSocket sends bytes from (`writeFile`). It owns
// its descriptor, which closes when the last holder lets go, so a write still queued on a socket
// keeps the file it names open (and its number from being reused) whatever its maker does
// meanwhile.

#include <cstdint>
#include <memory>
#include <string>

class SocketFile {
 public:
  // Opens `path` read-only, non-blocking (so a pipe put there cannot wait for a writer) and
  // close-on-exec, and keeps it only when the descriptor names a regular file (checked on the
  // descriptor, which no rename can swap). Null otherwise; `openError`, when given, then holds
  // the system's error number, or 0 when the path opened but names no regular file.
  static std::shared_ptr<SocketFile> openRegular(const std::string& path, int* openError = nullptr);
  // Takes over `fd`, already open on a regular file of `size` bytes (from the caller's `fstat`
  // of that descriptor), for a caller that opened it some other way.
  static std::shared_ptr<SocketFile> adopt(int fd, std::uint64_t size);
  ~SocketFile();
  SocketFile(const SocketFile&) = delete;
  SocketFile& operator=(const SocketFile&) = delete;

  int fd() const { return fd_; }
  // The file's size when it was opened, from the same descriptor.
  std::uint64_t sizeWhenOpened() const { return sizeWhenOpened_; }

 private:
  SocketFile(int fd, std::uint64_t size) : fd_(fd), sizeWhenOpened_(size) {}
  const int fd_;
  const std::uint64_t sizeWhenOpened_;
};
