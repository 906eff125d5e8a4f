#include "support/FullDisk.h"

#include <sqlite3.h>

#include <atomic>
#include <cstring>

namespace testsupport {

namespace {

std::atomic<bool> full{false};
sqlite3_vfs* real = nullptr;

// A file of this layer: its own head, then the usual layer's file.
struct File {
  sqlite3_file base;
  sqlite3_file* inner() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

sqlite3_file* inner(sqlite3_file* f) { return reinterpret_cast<File*>(f)->inner(); }

int fileClose(sqlite3_file* f) { return inner(f)->pMethods->xClose(inner(f)); }
int fileRead(sqlite3_file* f, void* b, int n, sqlite3_int64 at) {
  return inner(f)->pMethods->xRead(inner(f), b, n, at);
}
int fileWrite(sqlite3_file* f, const void* b, int n, sqlite3_int64 at) {
  if (full) return SQLITE_FULL;
  return inner(f)->pMethods->xWrite(inner(f), b, n, at);
}
int fileTruncate(sqlite3_file* f, sqlite3_int64 size) {
  return inner(f)->pMethods->xTruncate(inner(f), size);
}
int fileSync(sqlite3_file* f, int flags) { return inner(f)->pMethods->xSync(inner(f), flags); }
int fileSize(sqlite3_file* f, sqlite3_int64* size) {
  return inner(f)->pMethods->xFileSize(inner(f), size);
}
int fileLock(sqlite3_file* f, int l) { return inner(f)->pMethods->xLock(inner(f), l); }
int fileUnlock(sqlite3_file* f, int l) { return inner(f)->pMethods->xUnlock(inner(f), l); }
int fileCheckLock(sqlite3_file* f, int* out) {
  return inner(f)->pMethods->xCheckReservedLock(inner(f), out);
}
int fileControl(sqlite3_file* f, int op, void* arg) {
  return inner(f)->pMethods->xFileControl(inner(f), op, arg);
}
int fileSectorSize(sqlite3_file* f) { return inner(f)->pMethods->xSectorSize(inner(f)); }
int fileDevice(sqlite3_file* f) { return inner(f)->pMethods->xDeviceCharacteristics(inner(f)); }
int fileShmMap(sqlite3_file* f, int region, int size, int extend, void volatile** out) {
  return inner(f)->pMethods->xShmMap(inner(f), region, size, extend, out);
}
int fileShmLock(sqlite3_file* f, int offset, int n, int flags) {
  return inner(f)->pMethods->xShmLock(inner(f), offset, n, flags);
}
void fileShmBarrier(sqlite3_file* f) { inner(f)->pMethods->xShmBarrier(inner(f)); }
int fileShmUnmap(sqlite3_file* f, int remove) {
  return inner(f)->pMethods->xShmUnmap(inner(f), remove);
}
// Version 2 methods: no memory mapping, which would let writes bypass xWrite.
const sqlite3_io_methods kMethods = {
    2,           fileClose,      fileRead,      fileWrite,   fileTruncate,   fileSync,   fileSize,
    fileLock,    fileUnlock,     fileCheckLock, fileControl, fileSectorSize, fileDevice, fileShmMap,
    fileShmLock, fileShmBarrier, fileShmUnmap,  nullptr,     nullptr};

int vfsOpen(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* outFlags) {
  auto* file = reinterpret_cast<File*>(f);
  file->base.pMethods = nullptr;
  int rc = real->xOpen(real, name, file->inner(), flags, outFlags);
  if (rc == SQLITE_OK && file->inner()->pMethods) file->base.pMethods = &kMethods;
  return rc;
}
int vfsDelete(sqlite3_vfs*, const char* name, int sync) { return real->xDelete(real, name, sync); }
int vfsAccess(sqlite3_vfs*, const char* name, int flags, int* out) {
  return real->xAccess(real, name, flags, out);
}
int vfsFullPathname(sqlite3_vfs*, const char* name, int n, char* out) {
  return real->xFullPathname(real, name, n, out);
}
void* vfsDlOpen(sqlite3_vfs*, const char* name) { return real->xDlOpen(real, name); }
void vfsDlError(sqlite3_vfs*, int n, char* out) { real->xDlError(real, n, out); }
void (*vfsDlSym(sqlite3_vfs*, void* handle, const char* symbol))(void) {
  return real->xDlSym(real, handle, symbol);
}
void vfsDlClose(sqlite3_vfs*, void* handle) { real->xDlClose(real, handle); }
int vfsRandomness(sqlite3_vfs*, int n, char* out) { return real->xRandomness(real, n, out); }
int vfsSleep(sqlite3_vfs*, int micros) { return real->xSleep(real, micros); }
int vfsCurrentTime(sqlite3_vfs*, double* out) { return real->xCurrentTime(real, out); }
int vfsGetLastError(sqlite3_vfs*, int n, char* out) { return real->xGetLastError(real, n, out); }
int vfsCurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* out) {
  return real->xCurrentTimeInt64(real, out);
}

sqlite3_vfs layer;

}  // namespace

void FullDisk::install() {
  if (real) return;
  sqlite3_initialize();
  real = sqlite3_vfs_find(nullptr);
  layer = sqlite3_vfs{};
  layer.iVersion = 2;
  layer.szOsFile = static_cast<int>(sizeof(File)) + real->szOsFile;
  layer.mxPathname = real->mxPathname;
  layer.zName = "chengheng-fulldisk";
  layer.xOpen = vfsOpen;
  layer.xDelete = vfsDelete;
  layer.xAccess = vfsAccess;
  layer.xFullPathname = vfsFullPathname;
  layer.xDlOpen = vfsDlOpen;
  layer.xDlError = vfsDlError;
  layer.xDlSym = vfsDlSym;
  layer.xDlClose = vfsDlClose;
  layer.xRandomness = vfsRandomness;
  layer.xSleep = vfsSleep;
  layer.xCurrentTime = vfsCurrentTime;
  layer.xGetLastError = vfsGetLastError;
  layer.xCurrentTimeInt64 = vfsCurrentTimeInt64;
  sqlite3_vfs_register(&layer, 1);
}

FullDisk::FullDisk() {
  install();
  full = true;
}

FullDisk::~FullDisk() { full = false; }

}  // namespace testsupport
