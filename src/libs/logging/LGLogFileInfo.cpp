#include "logging/LGLogFileInfo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string_view>

#include "platform/foundation/Clock.h"

namespace {

constexpr std::string_view kArchivedNameMark = ".archived";

// Scopes that stand in for a file system without user attributes.
std::atomic<int> gNoExtendedAttributes{0};

bool extendedAttributesRefused() {
  if (gNoExtendedAttributes.load(std::memory_order_relaxed) == 0) return false;
  errno = ENOTSUP;
  return true;
}

std::string_view lastComponent(std::string_view path) {
  auto slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Where the mark sits in `name`: before the extension, or at the end of a name without one
// (".archived" is then the extension itself). npos when the name carries no mark.
std::size_t archivedMarkPosition(std::string_view name) {
  auto dot = name.rfind('.');
  if (dot != std::string_view::npos && name.substr(0, dot).ends_with(kArchivedNameMark)) {
    return dot - kArchivedNameMark.size();
  }
  if (name.ends_with(kArchivedNameMark)) return name.size() - kArchivedNameMark.size();
  return std::string_view::npos;
}

std::string archivedName(const std::string& name) {
  auto dot = name.rfind('.');
  if (dot == std::string::npos) return name + std::string(kArchivedNameMark);
  return name.substr(0, dot) + std::string(kArchivedNameMark) + name.substr(dot);
}

platform::Date dateFrom(std::int64_t seconds, std::uint32_t nanoseconds) {
  return platform::Date(std::chrono::seconds(seconds)) +
         std::chrono::duration_cast<platform::Date::duration>(
             std::chrono::nanoseconds(nanoseconds));
}

int compareReversed(const std::optional<platform::Date>& mine,
                    const std::optional<platform::Date>& theirs) {
  if (mine == theirs) return 0;
  if (!theirs) return -1;
  if (!mine) return 1;
  return *mine > *theirs ? -1 : 1;
}

}  // namespace

std::shared_ptr<LGLogFileInfo> LGLogFileInfo::logFileWithPath(const std::string& filePath) {
  return std::make_shared<LGLogFileInfo>(filePath);
}

LGLogFileInfo::LGLogFileInfo(std::string filePath) : _filePath(std::move(filePath)) {}

const std::string& LGLogFileInfo::fileName() {
  if (!_fileName) {
    auto slash = _filePath.rfind('/');
    _fileName = slash == std::string::npos ? _filePath : _filePath.substr(slash + 1);
  }
  return *_fileName;
}

const platform::Dictionary& LGLogFileInfo::fileAttributes() {
  if (_fileAttributes) return *_fileAttributes;
  _fileAttributes.emplace();
  struct stat st;
  if (stat(_filePath.c_str(), &st) != 0) return *_fileAttributes;
  (*_fileAttributes)["fileSize"] = static_cast<long long>(st.st_size);
  (*_fileAttributes)["fileModificationDate"] =
      dateFrom(st.st_mtim.tv_sec, static_cast<std::uint32_t>(st.st_mtim.tv_nsec));
  return *_fileAttributes;
}

std::optional<platform::Date> LGLogFileInfo::creationDate() {
  if (_creationDate) return _creationDate;
  struct statx sx;
  if (statx(AT_FDCWD, _filePath.c_str(), 0, STATX_BTIME | STATX_MTIME, &sx) != 0) {
    return std::nullopt;
  }
  if (sx.stx_mask & STATX_BTIME) {
    _creationDate = dateFrom(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec);
  } else if (sx.stx_mask & STATX_MTIME) {
    _creationDate = dateFrom(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
  }
  return _creationDate;
}

std::optional<platform::Date> LGLogFileInfo::modificationDate() {
  if (!_modificationDate) {
    if (const auto* date = platform::find(fileAttributes(), "fileModificationDate")) {
      _modificationDate = date->asDate();
    }
  }
  return _modificationDate;
}

std::uint64_t LGLogFileInfo::fileSize() {
  if (_fileSize == 0) {
    if (const auto* size = platform::find(fileAttributes(), "fileSize")) {
      _fileSize = static_cast<std::uint64_t>(size->integerValue());
    }
  }
  return _fileSize;
}

double LGLogFileInfo::age() {
  auto created = creationDate();
  if (!created) return 0;
  return platform::toSeconds(platform::Clock::shared()->now()) - platform::toSeconds(*created);
}

std::string LGLogFileInfo::description() {
  platform::Dictionary d;
  d["filePath"] = _filePath;
  d["fileName"] = fileName();
  d["fileAttributes"] = fileAttributes();
  if (auto c = creationDate()) d["creationDate"] = *c;
  if (auto m = modificationDate()) d["modificationDate"] = *m;
  d["fileSize"] = static_cast<unsigned long long>(fileSize());
  d["age"] = age();
  d["isArchived"] = isArchived();
  return platform::Value(d).description();
}

bool LGLogFileInfo::isArchived() const {
  return hasExtendedAttributeWithName(kLGLogFileArchivedAttribute) ||
         archivedMarkPosition(lastComponent(_filePath)) != std::string_view::npos;
}

void LGLogFileInfo::setIsArchived(bool archived) {
  if (archived) {
    if (isArchived()) return;
    // Without the attribute the file would stay active for ever and never be deleted as old.
    if (!addExtendedAttributeWithName(kLGLogFileArchivedAttribute) && errno != ENOENT) {
      renameFile(archivedName(fileName()));
    }
    return;
  }
  removeExtendedAttributeWithName(kLGLogFileArchivedAttribute);
  std::string name = fileName();
  auto mark = archivedMarkPosition(name);
  if (mark != std::string::npos) renameFile(name.erase(mark, kArchivedNameMark.size()));
}

void LGLogFileInfo::reset() {
  _fileName.reset();
  _fileAttributes.reset();
  _creationDate.reset();
  _modificationDate.reset();
}

void LGLogFileInfo::renameFile(const std::string& newFileName) {
  if (newFileName == fileName()) return;
  auto slash = _filePath.rfind('/');
  std::string folder = slash == std::string::npos ? std::string() : _filePath.substr(0, slash + 1);
  std::string newPath = folder + newFileName;
  // Moving never replaces another file (it would be lost with its lines). A file system that
  // cannot refuse in the move itself gets a look first.
  if (renameat2(AT_FDCWD, _filePath.c_str(), AT_FDCWD, newPath.c_str(), RENAME_NOREPLACE) != 0 &&
      errno == EINVAL) {
    struct stat st;
    if (lstat(newPath.c_str(), &st) != 0) std::rename(_filePath.c_str(), newPath.c_str());
  }
  _filePath = newPath;
  reset();
}

bool LGLogFileInfo::hasExtendedAttributeWithName(const std::string& name) const {
  if (extendedAttributesRefused()) return false;
  return getxattr(_filePath.c_str(), name.c_str(), nullptr, 0) >= 0;
}

bool LGLogFileInfo::addExtendedAttributeWithName(const std::string& name) {
  if (extendedAttributesRefused()) return false;
  return setxattr(_filePath.c_str(), name.c_str(), "", 0, 0) == 0;
}

void LGLogFileInfo::removeExtendedAttributeWithName(const std::string& name) {
  if (extendedAttributesRefused()) return;
  removexattr(_filePath.c_str(), name.c_str());
}

int LGLogFileInfo::reverseCompareByCreationDate(LGLogFileInfo& other) {
  return compareReversed(creationDate(), other.creationDate());
}

int LGLogFileInfo::reverseCompareByModificationDate(LGLogFileInfo& other) {
  return compareReversed(modificationDate(), other.modificationDate());
}

LGLogFileInfo::ScopedNoExtendedAttributes::ScopedNoExtendedAttributes() {
  gNoExtendedAttributes.fetch_add(1);
}

LGLogFileInfo::ScopedNoExtendedAttributes::~ScopedNoExtendedAttributes() {
  gNoExtendedAttributes.fetch_sub(1);
}
