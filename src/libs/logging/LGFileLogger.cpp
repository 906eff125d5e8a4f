#include "logging/LGFileLogger.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <typeinfo>

#include "logging/LGLogFileFormatterDefault.h"
#include "logging/LGLogFileManagerDefault.h"
#include "logging/LGLogMessage.h"
#include "platform/foundation/Clock.h"

using platform::dispatch::Source;

namespace {

// Returns the bytes written.
std::uint64_t writeAll(int fd, const char* data, std::size_t size) {
  std::uint64_t total = 0;
  while (size > 0) {
    ssize_t written = write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      break;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
    total += static_cast<std::uint64_t>(written);
  }
  return total;
}

}  // namespace

LGFileLogger::LGFileLogger(std::shared_ptr<LGLogFileManager> logFileManager)
    : _logFileManager(logFileManager ? std::move(logFileManager)
                                     : LGLogFileManagerDefault::create()) {
  formatter_ = std::make_shared<LGLogFileFormatterDefault>();
}

LGFileLogger::~LGFileLogger() {
  if (_currentLogFileHandle >= 0) {
    fsync(_currentLogFileHandle);
    close(_currentLogFileHandle);
  }
  if (rollingTimer_) rollingTimer_->cancel();
}

std::shared_ptr<LGFileLogger> LGFileLogger::self() {
  return std::static_pointer_cast<LGFileLogger>(shared_from_this());
}

std::uint64_t LGFileLogger::maximumFileSize() {
  return readSetting([this] { return _maximumFileSize; });
}

void LGFileLogger::setMaximumFileSize(std::uint64_t maximumFileSize) {
  checkSynchronousAccess();
  queueThroughLoggingQueue([this, maximumFileSize] {
    _maximumFileSize = maximumFileSize;
    maybeRollLogFileDueToSize();
  });
}

double LGFileLogger::rollingFrequency() {
  return readSetting([this] { return _rollingFrequency; });
}

void LGFileLogger::setRollingFrequency(double rollingFrequency) {
  checkSynchronousAccess();
  queueThroughLoggingQueue([this, rollingFrequency] {
    _rollingFrequency = rollingFrequency;
    maybeRollLogFileDueToAge();
  });
}

void LGFileLogger::rollLogFile() {
  changeSetting([this] { rollLogFileNow(); });
}

bool LGFileLogger::implements(Optional operation) const {
  return operation == Optional::WillRemoveLogger;
}

void LGFileLogger::willRemoveLogger() { rollLogFileNow(); }

void LGFileLogger::logMessage(const LGLogMessage& message) {
  // The default formatter (not one derived from it, which may format otherwise) writes straight
  // into the kept line buffer: no allocation per line.
  lineBuffer_.clear();
  LGLogFormatter* formatter = formatter_.get();
  if (formatter && typeid(*formatter) == typeid(LGLogFileFormatterDefault)) {
    static_cast<LGLogFileFormatterDefault*>(formatter)->appendLogLine(message, lineBuffer_);
  } else {
    LGLogText text = formatter_ ? formatter_->formatLogMessage(message) : message.logMsgText();
    if (!text) return;
    lineBuffer_.append(*text);
  }
  int fd = currentLogFileHandle();
  if (fd < 0) return;
  if (lineBuffer_.empty() || lineBuffer_.back() != '\n') lineBuffer_.push_back('\n');
  currentOffset_ += writeAll(fd, lineBuffer_.data(), lineBuffer_.size());
  // A rare long line does not keep its buffer for the logger's life.
  if (lineBuffer_.capacity() > 64 * 1024) std::string().swap(lineBuffer_);
  maybeRollLogFileDueToSize();
}

bool LGFileLogger::isOverLimit(LGLogFileInfo& info) const {
  if (_maximumFileSize > 0 && info.fileSize() >= _maximumFileSize) return true;
  return _rollingFrequency > 0 && info.age() >= _rollingFrequency;
}

void LGFileLogger::archive(LGLogFileInfo& info, bool rolled) {
  info.setIsArchived(true);
  if (!_logFileManager->answersArchiveNotifications()) return;
  if (rolled) {
    _logFileManager->didRollAndArchiveLogFile(info.filePath());
  } else {
    _logFileManager->didArchiveLogFile(info.filePath());
  }
}

std::shared_ptr<LGLogFileInfo> LGFileLogger::currentLogFileInfo() {
  assertOnLoggerQueue("LGFileLogger::currentLogFileInfo");
  if (_currentLogFileInfo) return _currentLogFileInfo;
  auto infos = _logFileManager->sortedLogFileInfos();
  if (!infos.empty() && !infos.front()->isArchived()) {
    auto newest = infos.front();
    if (isOverLimit(*newest)) {
      archive(*newest, false);
    } else {
      _currentLogFileInfo = newest;
    }
  }
  if (!_currentLogFileInfo) {
    _currentLogFileInfo = LGLogFileInfo::logFileWithPath(_logFileManager->createNewLogFile());
  }
  return _currentLogFileInfo;
}

int LGFileLogger::currentLogFileHandle() {
  assertOnLoggerQueue("LGFileLogger::currentLogFileHandle");
  if (_currentLogFileHandle >= 0) return _currentLogFileHandle;
  // A file that vanished under us is replaced by a new one rather than losing every line.
  for (int attempt = 0; attempt < 2 && _currentLogFileHandle < 0; ++attempt) {
    auto info = currentLogFileInfo();
    _currentLogFileHandle = open(info->filePath().c_str(), O_WRONLY | O_CLOEXEC);
    if (_currentLogFileHandle < 0) _currentLogFileInfo.reset();
  }
  if (_currentLogFileHandle < 0) return -1;
  off_t end = lseek(_currentLogFileHandle, 0, SEEK_END);
  currentOffset_ = end > 0 ? static_cast<std::uint64_t>(end) : 0;
  scheduleTimerToRollLogFileDueToAge();
  return _currentLogFileHandle;
}

void LGFileLogger::cancelRollingTimer() {
  if (!rollingTimer_) return;
  rollingTimer_->cancel();
  rollingTimer_.reset();
}

std::optional<platform::Date> LGFileLogger::rollTime() {
  if (!_currentLogFileInfo || _rollingFrequency <= 0) return std::nullopt;
  // Without a creation date the age cannot be known: a roll time computed from nothing would
  // lie in the past and fire without end, so there is none.
  auto created = _currentLogFileInfo->creationDate();
  if (!created) return std::nullopt;
  return *created +
         std::chrono::duration_cast<platform::Date::duration>(platform::seconds(_rollingFrequency));
}

bool LGFileLogger::hasRollingTimer() const {
  assertOnLoggerQueue("LGFileLogger::hasRollingTimer");
  return rollingTimer_ != nullptr;
}

void LGFileLogger::scheduleTimerToRollLogFileDueToAge() {
  assertOnLoggerQueue("LGFileLogger::scheduleTimerToRollLogFileDueToAge");
  cancelRollingTimer();
  auto when = rollTime();
  if (!when) return;
  auto delay =
      std::chrono::duration_cast<platform::Duration>(*when - platform::Clock::shared()->now());
  if (delay < platform::Duration::zero()) delay = platform::Duration::zero();
  rollingTimer_ = Source::makeTimer(loggerQueue());
  std::weak_ptr<LGFileLogger> weak = self();
  rollingTimer_->setEventHandler([weak] {
    if (auto logger = weak.lock()) logger->maybeRollLogFileDueToAge();
  });
  rollingTimer_->setTimer(delay, std::nullopt, std::chrono::nanoseconds(1));
  rollingTimer_->resume();
}

void LGFileLogger::maybeRollLogFileDueToAge() {
  assertOnLoggerQueue("LGFileLogger::maybeRollLogFileDueToAge");
  // Judged against the very time the timer was set for: an age computed in floating seconds
  // can fall short of the frequency at that instant, and the timer would then fire again at
  // once, without end.
  auto when = rollTime();
  if (when && platform::Clock::shared()->now() >= *when) {
    rollLogFileNow();
    return;
  }
  scheduleTimerToRollLogFileDueToAge();
}

void LGFileLogger::maybeRollLogFileDueToSize() {
  assertOnLoggerQueue("LGFileLogger::maybeRollLogFileDueToSize");
  if (_maximumFileSize == 0 || _currentLogFileHandle < 0) return;
  if (currentOffset_ >= _maximumFileSize) rollLogFileNow();
}

void LGFileLogger::rollLogFileNow() {
  assertOnLoggerQueue("LGFileLogger::rollLogFileNow");
  if (_currentLogFileHandle < 0) return;
  fsync(_currentLogFileHandle);
  close(_currentLogFileHandle);
  _currentLogFileHandle = -1;
  if (_currentLogFileInfo) archive(*_currentLogFileInfo, true);
  _currentLogFileInfo.reset();
  cancelRollingTimer();
}
