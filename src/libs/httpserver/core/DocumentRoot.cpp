#include "httpserver/core/DocumentRoot.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

constexpr int kItemFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;

int openat2Call(int dirFd, const char* path, std::uint64_t resolve) {
  struct open_how how {};
  how.flags = kItemFlags;
  how.resolve = resolve;
  return static_cast<int>(::syscall(SYS_openat2, dirFd, path, &how, sizeof how));
}

// The answers of a kernel (or a filter) that does not offer the call at all, as against an
// answer about the path.
bool isRefusal(int error) {
  return error == ENOSYS || error == EPERM || error == E2BIG || error == EINVAL;
}

std::optional<std::string> resolvedPath(const std::string& path) {
  char resolved[PATH_MAX];
  if (!::realpath(path.c_str(), resolved)) return std::nullopt;
  return std::string(resolved);
}

// `path` below `folder` (both resolved): the part after the folder's separator, "." for the
// folder itself; absent when it lies elsewhere.
std::optional<std::string> partBelow(const std::string& folder, const std::string& path) {
  if (path == folder) return std::string(".");
  std::string prefix = folder.back() == '/' ? folder : folder + "/";
  if (path.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
  return path.substr(prefix.size());
}

int errorOf(int result) { return result < 0 ? errno : 0; }

}  // namespace

std::shared_ptr<const DocumentRoot> DocumentRoot::open(std::string path, Walk walk) {
  int fd = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0 && walk == Walk::Beneath) {
    // One probe per folder, so that a refusal is never mistaken for an answer about a request.
    int probe = openat2Call(fd, ".", RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS);
    if (probe >= 0) {
      ::close(probe);
    } else if (isRefusal(errno)) {
      walk = Walk::ByPath;
    }
  }
  return std::shared_ptr<const DocumentRoot>(new DocumentRoot(std::move(path), fd, walk));
}

DocumentRoot::DocumentRoot(std::string path, int fd, Walk walk)
    : path_(std::move(path)), fd_(fd), walk_(walk) {}

DocumentRoot::~DocumentRoot() {
  if (fd_ >= 0) ::close(fd_);
}

std::optional<DocumentRoot::Item> DocumentRoot::openItem(const std::string& relativePath,
                                                         int* openError) const {
  Item item;
  int error = 0;
  if (fd_ >= 0 && walk_ == Walk::Beneath) {
    error = openBeneath(relativePath, &item.fd);
    // A folder removed and made again under the same name: the descriptor names the old one.
    if ((error == ENOENT || error == ENOTDIR) && folderWasRemoved())
      error = openByPath(relativePath, &item.fd);
  } else {
    error = openByPath(relativePath, &item.fd);
  }
  if (error == 0 && ::fstat(item.fd, &item.attributes) != 0) {
    error = errno;
    ::close(item.fd);
  }
  if (openError) *openError = error;
  if (error != 0) return std::nullopt;
  return item;
}

int DocumentRoot::openBeneath(const std::string& relativePath, int* fd) const {
  const char* path = relativePath.empty() ? "." : relativePath.c_str();
  *fd = openat2Call(fd_, path, RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS);
  int error = errorOf(*fd);
  if (error != EXDEV) return error;
  // Refused as leaving the folder: an absolute link may still point inside it. Its resolved
  // path, if inside, is opened by the same confined walk with no link left to follow, so a link
  // changed in between cannot lead out.
  std::optional<std::string> folder = resolvedPath(path_);
  std::optional<std::string> target = resolvedPath(path_ + "/" + relativePath);
  std::optional<std::string> below = folder && target ? partBelow(*folder, *target) : std::nullopt;
  if (!below) return EXDEV;
  *fd = openat2Call(fd_, below->c_str(),
                    RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS | RESOLVE_NO_SYMLINKS);
  error = errorOf(*fd);
  return error == ELOOP ? EXDEV : error;
}

int DocumentRoot::openByPath(const std::string& relativePath, int* fd) const {
  *fd = -1;
  std::optional<std::string> folder = resolvedPath(path_);
  if (!folder) return ENOENT;
  std::optional<std::string> target = resolvedPath(path_ + "/" + relativePath);
  if (!target) return errno;
  if (!partBelow(*folder, *target)) return EXDEV;
  *fd = ::open(target->c_str(), kItemFlags | O_NOFOLLOW);
  return errorOf(*fd);
}

bool DocumentRoot::folderWasRemoved() const {
  struct stat opened {};
  struct stat named {};
  if (::fstat(fd_, &opened) != 0) return true;
  if (::stat(path_.c_str(), &named) != 0) return true;
  return opened.st_dev != named.st_dev || opened.st_ino != named.st_ino;
}
