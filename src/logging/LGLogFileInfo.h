#pragma once
// LGLogFileInfo: one log file on disk. Its name, attributes and dates are read on first use and
// then kept (`reset` forgets them). Not thread-safe: a file logger uses it on its own queue.
//
// The archived mark is the extended attribute "user.logging.log.archived" with an empty value
// (Linux admits only "user." attributes from ordinary processes). On a file system without user
// attributes a file cannot be marked; it then stays active, is never deleted as an old file, and
// a logger rolls away from it again when it is found over a limit.
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

  const std::string& filePath() const { return filePath_; }
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

  bool isArchived() const;
  void setIsArchived(bool archived);

  void reset();
  void renameFile(const std::string& newFileName);

  bool hasExtendedAttributeWithName(const std::string& name) const;
  void addExtendedAttributeWithName(const std::string& name);
  void removeExtendedAttributeWithName(const std::string& name);

  bool operator==(const LGLogFileInfo& other) const { return filePath_ == other.filePath_; }

  // -1 when this file sorts first (the later date), 1 when `other` does, 0 for equal dates.
  // A missing date counts as the earliest.
  int reverseCompareByCreationDate(LGLogFileInfo& other);
  int reverseCompareByModificationDate(LGLogFileInfo& other);

 private:
  std::string filePath_;
  std::optional<std::string> fileName_;
  std::optional<platform::Dictionary> fileAttributes_;
  std::optional<platform::Date> creationDate_;
  std::optional<platform::Date> modificationDate_;
  std::uint64_t fileSize_ = 0;
};

// The name of the archived mark.
inline constexpr const char* kLGLogFileArchivedAttribute = "user.logging.log.archived";
