#include "platform/net/OutputStream.h"

namespace platform {

std::shared_ptr<OutputStream> OutputStream::toFile(std::string path, bool append) {
  return std::shared_ptr<OutputStream>(new OutputStream(std::move(path), append, false));
}

std::shared_ptr<OutputStream> OutputStream::toMemory() {
  return std::shared_ptr<OutputStream>(new OutputStream({}, false, true));
}

OutputStream::~OutputStream() { close(); }

void OutputStream::open() {
  MutexLock lock(mutex_);
  if (open_) return;
  open_ = true;
  if (memory_) return;
  file_ = std::fopen(path_.c_str(), append_ ? "ab" : "wb");
  failed_ = file_ == nullptr;
}

void OutputStream::close() {
  MutexLock lock(mutex_);
  open_ = false;
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

bool OutputStream::isOpen() const {
  MutexLock lock(mutex_);
  return open_;
}

bool OutputStream::hasSpaceAvailable() const {
  MutexLock lock(mutex_);
  return open_ && !failed_;
}

long OutputStream::write(const std::uint8_t* data, std::size_t length) {
  MutexLock lock(mutex_);
  if (!open_ || failed_) return -1;
  if (memory_) {
    buffer_.insert(buffer_.end(), data, data + length);
    return static_cast<long>(length);
  }
  if (std::fwrite(data, 1, length, file_) != length || std::fflush(file_) != 0) {
    failed_ = true;
    return -1;
  }
  return static_cast<long>(length);
}

Bytes OutputStream::data() const {
  MutexLock lock(mutex_);
  return buffer_;
}

}  // namespace platform
