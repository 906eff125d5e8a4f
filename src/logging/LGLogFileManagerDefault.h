#pragma once
// LGLogFileManagerDefault: log files "log-XXXXXX.txt" (six upper-case hexadecimal characters)
// in one folder, by default the caches folder's "Logs". It keeps the active (unmarked) files and
// the `maximumNumberOfLogFiles` newest archived ones, and deletes older archived files whenever
// it makes a new file or its maximum changes. A file that is not archived may be being written,
// so it is never deleted.
//
// Files sort newest first by creation date, then by modification date, then by name, so the
// order is the same on every listing.

#include <atomic>
#include <optional>

#include "logging/LGLogFileManager.h"

class LGLogFileManagerDefault : public LGLogFileManager,
                                public std::enable_shared_from_this<LGLogFileManagerDefault> {
 public:
  // Without a folder, `defaultLogsDirectory()`.
  explicit LGLogFileManagerDefault(std::optional<std::string> logsDirectory = std::nullopt);

  static std::string defaultLogsDirectory();
  static bool isLogFile(const std::string& fileName);
  static std::string generateShortUUID();

  // Made with its parents when missing.
  std::string logsDirectory() override;
  std::vector<std::string> unsortedLogFilePaths() override;
  std::vector<std::string> unsortedLogFileNames() override;
  std::vector<std::shared_ptr<LGLogFileInfo>> unsortedLogFileInfos() override;
  std::vector<std::string> sortedLogFilePaths() override;
  std::vector<std::string> sortedLogFileNames() override;
  std::vector<std::shared_ptr<LGLogFileInfo>> sortedLogFileInfos() override;
  std::string createNewLogFile() override;

  // Any thread may set it; a different value queues a delete pass on the logging queue. 0 means
  // no limit.
  std::uint32_t maximumNumberOfLogFiles() const override { return maximumNumberOfLogFiles_; }
  void setMaximumNumberOfLogFiles(std::uint32_t maximum) override;

  void deleteOldLogFiles();

 private:
  std::atomic<std::uint32_t> maximumNumberOfLogFiles_{5};
  const std::string _logsDirectory;
};
