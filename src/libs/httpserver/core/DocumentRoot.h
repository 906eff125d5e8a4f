#pragma once
// DocumentRoot: the folder a server serves, opened once as a directory descriptor, so that a
// request walks only its own path below the folder instead of the folder's whole path again.
// Items are opened relative to that descriptor with `openat2` and RESOLVE_BENEATH |
// RESOLVE_NO_MAGICLINKS: the kernel itself refuses a walk that leaves the folder, by "..", by
// a symbolic link pointing out of it or through a /proc link, so the lexical check of the
// request path is no longer the only guard. An absolute symbolic link is refused by that walk
// even when it points back inside; such an item is looked up once more by its resolved path and
// opened only when that lies inside the folder.
//
// Where the kernel refuses `openat2` (older kernels, or a filter in a container) and where the
// folder could not be opened (it did not exist yet), or has been removed and made again since,
// items are opened by their full path instead, resolved and held inside the folder's resolved
// path before they are opened.
//
// Immutable once made; any thread.

#include <sys/stat.h>

#include <memory>
#include <optional>
#include <string>

class DocumentRoot {
 public:
  // How items are opened: relative to the folder's descriptor by the kernel's confined walk, or
  // by their full path (the fallback, also chosen by tests to check it gives the same answers).
  enum class Walk { Beneath, ByPath };

  // An open item: its descriptor (the caller's to close) and the descriptor's `fstat`.
  struct Item {
    int fd = -1;
    struct stat attributes {};
  };

  // Opens `path` (kept as given) as the served folder. `walk` Beneath falls back to ByPath by
  // itself where the kernel refuses it.
  static std::shared_ptr<const DocumentRoot> open(std::string path, Walk walk = Walk::Beneath);
  ~DocumentRoot();
  DocumentRoot(const DocumentRoot&) = delete;
  DocumentRoot& operator=(const DocumentRoot&) = delete;

  const std::string& path() const { return path_; }
  // Whether the folder itself was opened (false: it could not be, and items go by path).
  bool isOpen() const { return fd_ >= 0; }

  // Opens `relativePath` (a standardised path below the folder, without a leading separator;
  // empty for the folder itself) read-only, non-blocking and close-on-exec, and takes its
  // attributes from the descriptor. Absent with the system's error number in `openError` when
  // it cannot be opened, EXDEV when it would lie outside the folder.
  std::optional<Item> openItem(const std::string& relativePath, int* openError) const;

 private:
  DocumentRoot(std::string path, int fd, Walk walk);
  // The kernel's confined walk; the error number, or 0 with `fd` set.
  int openBeneath(const std::string& relativePath, int* fd) const;
  // The full path, resolved and held inside the folder's resolved path; the same answer.
  int openByPath(const std::string& relativePath, int* fd) const;
  // Whether the opened folder has been removed since (its name now names another, or nothing).
  bool folderWasRemoved() const;

  const std::string path_;
  const int fd_;
  const Walk walk_;
};
