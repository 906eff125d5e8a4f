#pragma once
// OutputStream: where received bytes can be written in place of memory: a file (new or
// appended to) or a growing buffer. Writing needs the stream open; a stream that is not open or
// has failed has no space available.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "platform/foundation/Value.h"

namespace platform {

class OutputStream {
 public:
  static std::shared_ptr<OutputStream> toFile(std::string path, bool append);
  static std::shared_ptr<OutputStream> toMemory();

  ~OutputStream();
  OutputStream(const OutputStream&) = delete;
  OutputStream& operator=(const OutputStream&) = delete;

  void open();
  void close();
  bool isOpen() const;
  bool hasSpaceAvailable() const;
  // Bytes written, or -1 on failure.
  long write(const std::uint8_t* data, std::size_t length);

  // The file's path, empty for a memory stream.
  const std::string& path() const { return path_; }
  // What a memory stream holds.
  Bytes data() const;

 private:
  OutputStream(std::string path, bool append) : path_(std::move(path)), append_(append) {}
  mutable std::mutex mutex_;
  std::string path_;
  bool append_ = false;
  bool memory_ = false;
  bool open_ = false;
  bool failed_ = false;
  std::FILE* file_ = nullptr;
  Bytes buffer_;
};

}  // namespace platform
