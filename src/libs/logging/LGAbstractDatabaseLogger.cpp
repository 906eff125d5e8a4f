#include "logging/LGAbstractDatabaseLogger.h"

#include "logging/LGLogMessage.h"

using platform::Duration;
using platform::dispatch::Source;

namespace {

constexpr Duration kLeeway = std::chrono::nanoseconds(1);

platform::MonoTime now() { return platform::Clock::shared()->monotonicNow(); }

Duration fromNow(platform::MonoTime when) {
  auto left = std::chrono::duration_cast<Duration>(when - now());
  return left < Duration::zero() ? Duration::zero() : left;
}

}  // namespace

LGAbstractDatabaseLogger::~LGAbstractDatabaseLogger() {
  destroySaveTimer();
  destroyDeleteTimer();
}

std::weak_ptr<LGAbstractDatabaseLogger> LGAbstractDatabaseLogger::weakSelf() {
  return std::static_pointer_cast<LGAbstractDatabaseLogger>(shared_from_this());
}

bool LGAbstractDatabaseLogger::db_log(const LGLogMessage&) { return false; }

std::uint32_t LGAbstractDatabaseLogger::saveThreshold() {
  return readSetting([this] { return _saveThreshold; });
}
double LGAbstractDatabaseLogger::saveInterval() {
  return readSetting([this] { return _saveInterval; });
}
double LGAbstractDatabaseLogger::maxAge() {
  return readSetting([this] { return _maxAge; });
}
double LGAbstractDatabaseLogger::deleteInterval() {
  return readSetting([this] { return _deleteInterval; });
}
bool LGAbstractDatabaseLogger::deleteOnEverySave() {
  return readSetting([this] { return _deleteOnEverySave; });
}

void LGAbstractDatabaseLogger::setSaveThreshold(std::uint32_t value) {
  changeSetting([this, value] { changeSaveThreshold(value); });
}
void LGAbstractDatabaseLogger::setSaveInterval(double value) {
  changeSetting([this, value] { changeSaveInterval(value); });
}
void LGAbstractDatabaseLogger::setMaxAge(double value) {
  changeSetting([this, value] { changeMaxAge(value); });
}
void LGAbstractDatabaseLogger::setDeleteInterval(double value) {
  changeSetting([this, value] { changeDeleteInterval(value); });
}
void LGAbstractDatabaseLogger::setDeleteOnEverySave(bool value) {
  changeSetting([this, value] { _deleteOnEverySave = value; });
}

void LGAbstractDatabaseLogger::changeSaveThreshold(std::uint32_t value) {
  if (value == _saveThreshold) return;
  _saveThreshold = value;
  if (_saveThreshold != 0 && unsavedCount_ >= _saveThreshold) performSaveAndSuspendSaveTimer();
}

void LGAbstractDatabaseLogger::changeSaveInterval(double value) {
  if (value == _saveInterval) return;
  _saveInterval = value;
  if (_saveInterval > 0) {
    if (!saveTimer_) createSuspendedSaveTimer();
    updateAndResumeSaveTimer();
  } else if (saveTimer_) {
    destroySaveTimer();
  }
}

void LGAbstractDatabaseLogger::changeMaxAge(double value) {
  if (value == _maxAge) return;
  double old = _maxAge;
  _maxAge = value;
  if (old > 0 && value <= 0) destroyDeleteTimer();
  if (value > 0 && (old <= 0 || value < old)) {
    performDelete();
    if (deleteTimer_) {
      updateDeleteTimer();
    } else {
      createAndStartDeleteTimer();
    }
  }
}

void LGAbstractDatabaseLogger::changeDeleteInterval(double value) {
  if (value == _deleteInterval) return;
  _deleteInterval = value;
  if (_deleteInterval > 0) {
    if (deleteTimer_) {
      updateDeleteTimer();
    } else {
      createAndStartDeleteTimer();
    }
  } else if (deleteTimer_) {
    destroyDeleteTimer();
  }
}

void LGAbstractDatabaseLogger::savePendingLogEntries() {
  if (isOnInternalLoggerQueue()) {
    performSaveAndSuspendSaveTimer();
    return;
  }
  auto self = shared_from_this();
  loggerQueue()->async([this, self] { performSaveAndSuspendSaveTimer(); });
}

void LGAbstractDatabaseLogger::deleteOldLogEntries() {
  if (isOnInternalLoggerQueue()) {
    performDelete();
    return;
  }
  auto self = shared_from_this();
  loggerQueue()->async([this, self] { performDelete(); });
}

bool LGAbstractDatabaseLogger::implements(Optional) const { return true; }

void LGAbstractDatabaseLogger::didAddLogger() {
  createSuspendedSaveTimer();
  createAndStartDeleteTimer();
}

void LGAbstractDatabaseLogger::willRemoveLogger() {
  performSaveAndSuspendSaveTimer();
  destroySaveTimer();
  destroyDeleteTimer();
}

void LGAbstractDatabaseLogger::flush() { performSaveAndSuspendSaveTimer(); }

void LGAbstractDatabaseLogger::logMessage(const LGLogMessage& message) {
  if (!db_log(message)) return;
  bool first = unsavedCount_ == 0;
  ++unsavedCount_;
  if (_saveThreshold != 0 && unsavedCount_ >= _saveThreshold) {
    performSaveAndSuspendSaveTimer();
    return;
  }
  if (first) {
    unsavedTime_ = now();
    updateAndResumeSaveTimer();
  }
}

void LGAbstractDatabaseLogger::performSaveAndSuspendSaveTimer() {
  assertOnLoggerQueue("LGAbstractDatabaseLogger::performSaveAndSuspendSaveTimer");
  if (unsavedCount_ > 0) {
    if (_deleteOnEverySave) {
      db_saveAndDelete();
    } else {
      db_save();
    }
  }
  unsavedCount_ = 0;
  unsavedTime_.reset();
  if (saveTimer_ && !saveTimerSuspended_) {
    saveTimer_->suspend();
    saveTimerSuspended_ = true;
  }
}

void LGAbstractDatabaseLogger::performDelete() {
  assertOnLoggerQueue("LGAbstractDatabaseLogger::performDelete");
  if (_maxAge <= 0) return;
  db_delete();
  lastDeleteTime_ = now();
}

void LGAbstractDatabaseLogger::createSuspendedSaveTimer() {
  assertOnLoggerQueue("LGAbstractDatabaseLogger::createSuspendedSaveTimer");
  if (saveTimer_ || _saveInterval <= 0) return;
  saveTimer_ = Source::makeTimer(loggerQueue());
  auto weak = weakSelf();
  saveTimer_->setEventHandler([weak] {
    if (auto self = weak.lock()) self->performSaveAndSuspendSaveTimer();
  });
  saveTimerSuspended_ = true;
}

void LGAbstractDatabaseLogger::updateAndResumeSaveTimer() {
  assertOnLoggerQueue("LGAbstractDatabaseLogger::updateAndResumeSaveTimer");
  if (!saveTimer_ || _saveInterval <= 0 || !unsavedTime_) return;
  Duration interval = platform::seconds(_saveInterval);
  saveTimer_->setTimer(fromNow(*unsavedTime_ + interval), interval, kLeeway);
  if (saveTimerSuspended_) {
    saveTimer_->resume();
    saveTimerSuspended_ = false;
  }
}

void LGAbstractDatabaseLogger::destroySaveTimer() {
  if (!saveTimer_) return;
  saveTimer_->cancel();
  // A paused source would hold on to its handlers until resumed.
  if (saveTimerSuspended_) saveTimer_->resume();
  saveTimerSuspended_ = false;
  saveTimer_.reset();
}

void LGAbstractDatabaseLogger::createAndStartDeleteTimer() {
  assertOnLoggerQueue("LGAbstractDatabaseLogger::createAndStartDeleteTimer");
  if (deleteTimer_ || _deleteInterval <= 0 || _maxAge <= 0) return;
  deleteTimer_ = Source::makeTimer(loggerQueue());
  auto weak = weakSelf();
  deleteTimer_->setEventHandler([weak] {
    if (auto self = weak.lock()) self->performDelete();
  });
  updateDeleteTimer();
  deleteTimer_->resume();
}

void LGAbstractDatabaseLogger::updateDeleteTimer() {
  assertOnLoggerQueue("LGAbstractDatabaseLogger::updateDeleteTimer");
  if (!deleteTimer_ || _deleteInterval <= 0 || _maxAge <= 0) return;
  Duration interval = platform::seconds(_deleteInterval);
  Duration start = lastDeleteTime_ ? fromNow(*lastDeleteTime_ + interval) : interval;
  deleteTimer_->setTimer(start, interval, kLeeway);
}

void LGAbstractDatabaseLogger::destroyDeleteTimer() {
  if (!deleteTimer_) return;
  deleteTimer_->cancel();
  deleteTimer_.reset();
}
