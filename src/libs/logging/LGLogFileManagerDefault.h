#pragma once
// LGLogFileManagerDefault: log files "log-XXXXXX.txt" (six upper-case hexadecimal characters)
// in one folder, by default the caches folder's "Logs". It keeps the active (unmarked) files and
// the `maximumNumberOfLogFiles` newest archived ones, and deletes older archived files whenever
// it makes a new file or its maximum changes. A file that is not archived may be being written,
// so it is never deleted.
//
// Files sort newest first by creation date, then by modification date, then by name, so the
// order is the same on every listing.
//
// Any thread may use it: the folder is fixed at creation and the maximum is atomic; the file
// system is the only other state, and listing, making and deleting files there tolerate each
// other (a vanished file is skipped, deletes ignore errors).

#include <atomic>
#include <optional>

#include "logging/LGLogFileManager.h"
#include "platform/foundation/SharedObject.h"

class LGLogFileManagerDefault : public LGLogFileManager,
                                public std::enable_shared_from_this<LGLogFileManagerDefault> {
  CH_SHARED_OBJECT(LGLogFileManagerDefault)
 public:
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
  std::uint32_t maximumNumberOfLogFiles() const override { return _maximumNumberOfLogFiles; }
  void setMaximumNumberOfLogFiles(std::uint32_t maximum) override;

  void deleteOldLogFiles();

 protected:
  // Without a folder, `defaultLogsDirectory()`. A change of the maximum queues work that holds
  // the manager, so it lives in a shared_ptr from birth.
  explicit LGLogFileManagerDefault(std::optional<std::string> logsDirectory = std::nullopt);

 private:
  // Set before start, read-only after.
  const std::string _logsDirectory;

  // Any thread.
  std::atomic<std::uint32_t> _maximumNumberOfLogFiles{5};
};
