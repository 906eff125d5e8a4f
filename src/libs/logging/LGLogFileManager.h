#pragma once
// What a file logger asks of whoever decides where log files live, how they are named, which
// exist and which are deleted.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "logging/LGLogFileInfo.h"

class LGLogFileManager {
 public:
  virtual ~LGLogFileManager() = default;

  virtual std::string logsDirectory() = 0;
  virtual std::vector<std::string> unsortedLogFilePaths() = 0;
  virtual std::vector<std::string> unsortedLogFileNames() = 0;
  virtual std::vector<std::shared_ptr<LGLogFileInfo>> unsortedLogFileInfos() = 0;
  // Newest first.
  virtual std::vector<std::string> sortedLogFilePaths() = 0;
  virtual std::vector<std::string> sortedLogFileNames() = 0;
  virtual std::vector<std::shared_ptr<LGLogFileInfo>> sortedLogFileInfos() = 0;
  // Makes a new empty log file and returns its path.
  virtual std::string createNewLogFile() = 0;
  virtual std::uint32_t maximumNumberOfLogFiles() const = 0;
  virtual void setMaximumNumberOfLogFiles(std::uint32_t maximum) = 0;

  // Optional: told of a file archived when found over a limit, and of a file rolled.
  virtual bool answersArchiveNotifications() const { return false; }
  virtual void didArchiveLogFile(const std::string& /*logFilePath*/) {}
  virtual void didRollAndArchiveLogFile(const std::string& /*logFilePath*/) {}
};
