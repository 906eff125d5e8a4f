#pragma once
// OutputStream: where received bytes can be written in place of memory: a file (new or
// appended to) or a growing buffer. Writing needs the stream open; a stream that is not open or
// has failed has no space available.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "platform/foundation/Mutex.h"
#include "platform/foundation/Value.h"

namespace platform {

class OutputStream {
 public:
  static std::shared_ptr<OutputStream> toFile(std::string path, bool append);
  static std::shared_ptr<OutputStream> toMemory();

  ~OutputStream();
  OutputStream(const OutputStream&) = delete;
  OutputStream& operator=(const OutputStream&) = delete;

  void open() EXCLUDES(mutex_);
  void close() EXCLUDES(mutex_);
  bool isOpen() const EXCLUDES(mutex_);
  bool hasSpaceAvailable() const EXCLUDES(mutex_);
  // Bytes written, or -1 on failure.
  long write(const std::uint8_t* data, std::size_t length) EXCLUDES(mutex_);

  // The file's path, empty for a memory stream.
  const std::string& path() const { return path_; }
  // What a memory stream holds.
  Bytes data() const EXCLUDES(mutex_);

 private:
  OutputStream(std::string path, bool append, bool memory)
      : path_(std::move(path)), append_(append), memory_(memory) {}

  // Set at construction, read-only after.
  const std::string path_;
  const bool append_;
  const bool memory_;

  // Guarded by mutex_: a stream is written on one thread and closed on another.
  mutable Mutex mutex_;
  bool open_ GUARDED_BY(mutex_) = false;
  bool failed_ GUARDED_BY(mutex_) = false;
  std::FILE* file_ GUARDED_BY(mutex_) = nullptr;
  Bytes buffer_ GUARDED_BY(mutex_);
};

}  // namespace platform
