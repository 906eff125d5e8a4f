#include "sockets/dispatch/SocketFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::shared_ptr<SocketFile> SocketFile::openRegular(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat attributes {};
  if (::fstat(fd, &attributes) != 0 || !S_ISREG(attributes.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  return std::shared_ptr<SocketFile>(new SocketFile(fd));
}

SocketFile::~SocketFile() { ::close(fd_); }
