#include "sockets/dispatch/SocketFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

std::shared_ptr<SocketFile> SocketFile::openRegular(const std::string& path, int* openError) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (openError) *openError = errno;
    return nullptr;
  }
  struct stat attributes {};
  bool statted = ::fstat(fd, &attributes) == 0;
  if (!statted || !S_ISREG(attributes.st_mode)) {
    int error = statted ? 0 : errno;
    ::close(fd);
    if (openError) *openError = error;
    return nullptr;
  }
  if (openError) *openError = 0;
  return std::shared_ptr<SocketFile>(
      new SocketFile(fd, static_cast<std::uint64_t>(attributes.st_size)));
}

std::shared_ptr<SocketFile> SocketFile::adopt(int fd, std::uint64_t size) {
  return std::shared_ptr<SocketFile>(new SocketFile(fd, size));
}

SocketFile::~SocketFile() { ::close(fd_); }
