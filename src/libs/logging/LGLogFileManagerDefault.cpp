#include "logging/LGLogFileManagerDefault.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <uuid/uuid.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "logging/LGLog.h"
#include "platform/foundation/Paths.h"

namespace {

bool isUpperHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// Newest first; ties broken by modification date, then by name, so no two listings disagree.
bool sortsBefore(LGLogFileInfo& a, LGLogFileInfo& b) {
  if (int c = a.reverseCompareByCreationDate(b)) return c < 0;
  if (int c = a.reverseCompareByModificationDate(b)) return c < 0;
  return a.fileName() > b.fileName();
}

}  // namespace

LGLogFileManagerDefault::LGLogFileManagerDefault(std::optional<std::string> logsDirectory)
    : _logsDirectory(logsDirectory ? *logsDirectory : defaultLogsDirectory()) {}

std::string LGLogFileManagerDefault::defaultLogsDirectory() {
  return platform::Paths::join(platform::Paths::caches(), "Logs");
}

bool LGLogFileManagerDefault::isLogFile(const std::string& fileName) {
  if (fileName.size() < 10 || fileName.compare(0, 4, "log-") != 0) return false;
  return std::all_of(fileName.begin() + 4, fileName.begin() + 10, isUpperHexDigit);
}

std::string LGLogFileManagerDefault::generateShortUUID() {
  uuid_t uuid;
  uuid_generate(uuid);
  char text[37];
  uuid_unparse_upper(uuid, text);
  return std::string(text, 6);
}

std::string LGLogFileManagerDefault::logsDirectory() {
  std::error_code ignored;
  std::filesystem::create_directories(_logsDirectory, ignored);
  return _logsDirectory;
}

std::vector<std::string> LGLogFileManagerDefault::unsortedLogFileNames() {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(logsDirectory(), error)) {
    std::string name = entry.path().filename().string();
    if (isLogFile(name)) names.push_back(name);
  }
  return names;
}

std::vector<std::string> LGLogFileManagerDefault::unsortedLogFilePaths() {
  std::vector<std::string> paths;
  std::string folder = logsDirectory();
  for (const auto& name : unsortedLogFileNames())
    paths.push_back(platform::Paths::join(folder, name));
  return paths;
}

std::vector<std::shared_ptr<LGLogFileInfo>> LGLogFileManagerDefault::unsortedLogFileInfos() {
  std::vector<std::shared_ptr<LGLogFileInfo>> infos;
  for (const auto& path : unsortedLogFilePaths())
    infos.push_back(LGLogFileInfo::logFileWithPath(path));
  return infos;
}

std::vector<std::shared_ptr<LGLogFileInfo>> LGLogFileManagerDefault::sortedLogFileInfos() {
  auto infos = unsortedLogFileInfos();
  std::sort(infos.begin(), infos.end(),
            [](const auto& a, const auto& b) { return sortsBefore(*a, *b); });
  return infos;
}

std::vector<std::string> LGLogFileManagerDefault::sortedLogFilePaths() {
  std::vector<std::string> paths;
  for (const auto& info : sortedLogFileInfos()) paths.push_back(info->filePath());
  return paths;
}

std::vector<std::string> LGLogFileManagerDefault::sortedLogFileNames() {
  std::vector<std::string> names;
  for (const auto& info : sortedLogFileInfos()) names.push_back(info->fileName());
  return names;
}

std::string LGLogFileManagerDefault::createNewLogFile() {
  std::string folder = logsDirectory();
  std::string path;
  do {
    path = platform::Paths::join(folder, "log-" + generateShortUUID() + ".txt");
  } while (exists(path));
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd >= 0) close(fd);
  deleteOldLogFiles();
  return path;
}

void LGLogFileManagerDefault::setMaximumNumberOfLogFiles(std::uint32_t maximum) {
  std::uint32_t old = _maximumNumberOfLogFiles.exchange(maximum);
  if (old == maximum) return;
  auto self = shared_from_this();
  LGLog::queueOnLoggingQueue([self] { self->deleteOldLogFiles(); });
}

void LGLogFileManagerDefault::deleteOldLogFiles() {
  std::uint32_t maximum = _maximumNumberOfLogFiles;
  if (maximum == 0) return;
  std::uint32_t archivedSeen = 0;
  for (const auto& info : sortedLogFileInfos()) {
    // A file without the mark may be the one being written: it is never deleted.
    if (!info->isArchived()) continue;
    if (archivedSeen++ < maximum) continue;
    unlink(info->filePath().c_str());
  }
}
