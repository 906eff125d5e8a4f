#include "platform/net/OutputStream.h"

namespace platform {

std::shared_ptr<OutputStream> OutputStream::toFile(std::string path, bool append) {
  return std::shared_ptr<OutputStream>(new OutputStream(std::move(path), append));
}

std::shared_ptr<OutputStream> OutputStream::toMemory() {
  auto stream = std::shared_ptr<OutputStream>(new OutputStream({}, false));
  stream->memory_ = true;
  return stream;
}

OutputStream::~OutputStream() { close(); }

void OutputStream::open() {
  std::lock_guard lock(mutex_);
  if (open_) return;
  open_ = true;
  if (memory_) return;
  file_ = std::fopen(path_.c_str(), append_ ? "ab" : "wb");
  failed_ = file_ == nullptr;
}

void OutputStream::close() {
  std::lock_guard lock(mutex_);
  open_ = false;
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

bool OutputStream::isOpen() const {
  std::lock_guard lock(mutex_);
  return open_;
}

bool OutputStream::hasSpaceAvailable() const {
  std::lock_guard lock(mutex_);
  return open_ && !failed_;
}

long OutputStream::write(const std::uint8_t* data, std::size_t length) {
  std::lock_guard lock(mutex_);
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
  std::lock_guard lock(mutex_);
  return buffer_;
}

}  // namespace platform
