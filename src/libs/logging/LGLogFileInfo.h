#pragma once
// LGLogFileInfo: one log file on disk. Its name, attributes and dates are read on first use and
// then kept (`reset` forgets them). Not thread-safe: a file logger uses it on its own queue.
//
// The archived mark is the extended attribute "user.logging.log.archived" with an empty value
// (Linux admits only "user." attributes from ordinary processes). A file that cannot carry the
// attribute (a file system without user attributes) is marked by name instead: it is renamed
// with ".archived" before its extension ("log-1A2B3C.txt" becomes "log-1A2B3C.archived.txt"),
// which still counts as a log file name. Either mark makes a file archived.
//
// The creation date is the file system's birth time, or the modification time where the file
// system keeps no birth time; absent only when neither can be read.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

class LGLogFileInfo {
 public:
  static std::shared_ptr<LGLogFileInfo> logFileWithPath(const std::string& filePath);
  explicit LGLogFileInfo(std::string filePath);

  const std::string& filePath() const { return _filePath; }
  const std::string& fileName();
  // Size ("fileSize", integer) and modification date ("fileModificationDate"); empty when the
  // file cannot be read.
  const platform::Dictionary& fileAttributes();
  std::optional<platform::Date> creationDate();
  std::optional<platform::Date> modificationDate();
  std::uint64_t fileSize();
  // Seconds from the creation date to now; 0 without a creation date.
  double age();

  std::string description();

  // Whether the file carries either mark.
  bool isArchived() const;
  // Marking sets the attribute, or renames the file when the attribute cannot be set (the path
  // then follows the new name); unmarking removes both marks.
  void setIsArchived(bool archived);

  void reset();
  // Moves the file to `newFileName` in the same folder; an existing file of that name is never
  // replaced. The path takes the new name even when the move fails.
  void renameFile(const std::string& newFileName);

  bool hasExtendedAttributeWithName(const std::string& name) const;
  // Whether the attribute was set.
  bool addExtendedAttributeWithName(const std::string& name);
  void removeExtendedAttributeWithName(const std::string& name);

  bool operator==(const LGLogFileInfo& other) const { return _filePath == other._filePath; }

  // -1 when this file sorts first (the later date), 1 when `other` does, 0 for equal dates.
  // A missing date counts as the earliest.
  int reverseCompareByCreationDate(LGLogFileInfo& other);
  int reverseCompareByModificationDate(LGLogFileInfo& other);

  // While one is alive, every extended-attribute call of this class fails with ENOTSUP, as on a
  // file system without user attributes, so tests reach the by-name mark on any file system.
  class ScopedNoExtendedAttributes {
   public:
    ScopedNoExtendedAttributes();
    ~ScopedNoExtendedAttributes();
    ScopedNoExtendedAttributes(const ScopedNoExtendedAttributes&) = delete;
    ScopedNoExtendedAttributes& operator=(const ScopedNoExtendedAttributes&) = delete;
  };

 private:
  std::string _filePath;
  std::optional<std::string> _fileName;
  std::optional<platform::Dictionary> _fileAttributes;
  std::optional<platform::Date> _creationDate;
  std::optional<platform::Date> _modificationDate;
  std::uint64_t _fileSize = 0;
};

// The name of the archived mark.
inline constexpr const char* kLGLogFileArchivedAttribute = "user.logging.log.archived";
