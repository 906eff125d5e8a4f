#pragma once
// LGAbstractDatabaseLogger: the base of a logger that stores messages in batches. It counts the
// messages its subclass takes (`db_log`) and has them saved (`db_save`) once `saveThreshold`
// are waiting or `saveInterval` seconds after the first of them, and has entries older than
// `maxAge` deleted (`db_delete`) every `deleteInterval` seconds. The four storage operations are
// the subclass's and are only ever called on the logger's queue, one at a time; both timers fire
// there, on the shared clock.
//
// The system has no subclass yet; this is the contract one builds on.

#include <cstdint>
#include <memory>
#include <optional>

#include "logging/LGAbstractLogger.h"
#include "platform/dispatch/Source.h"
#include "platform/foundation/Clock.h"

class LGAbstractDatabaseLogger : public LGAbstractLogger {
 public:
  ~LGAbstractDatabaseLogger() override;

  // A subclass's host sets these; nothing in the system reads them back yet.
  // Messages that force a save; 0: no count limit. Default 500.
  std::uint32_t saveThreshold();
  void setSaveThreshold(std::uint32_t saveThreshold);
  // Seconds a message waits at most for its save; 0 or less: no timed saves. Default 60.
  double saveInterval();
  void setSaveInterval(double saveInterval);
  // Seconds beyond which entries are deleted; 0 or less: never. Default seven days.
  double maxAge();
  void setMaxAge(double maxAge);
  // Seconds between delete passes; 0 or less: no timed deletes. Default 300.
  double deleteInterval();
  void setDeleteInterval(double deleteInterval);
  // Every save also deletes old entries. Default off.
  bool deleteOnEverySave();
  void setDeleteOnEverySave(bool deleteOnEverySave);

  void savePendingLogEntries();
  void deleteOldLogEntries();

  void logMessage(const LGLogMessage& message) override;
  bool implements(Optional operation) const override;
  void didAddLogger() override;
  void willRemoveLogger() override;
  void flush() override;

 protected:
  LGAbstractDatabaseLogger() = default;

  // The subclass's storage; the base versions do nothing and take nothing.
  virtual bool db_log(const LGLogMessage& message);
  virtual void db_save() {}
  virtual void db_delete() {}
  virtual void db_saveAndDelete() {}

  // Queue only (debug builds check it, but for the two destroy operations, which the destructor
  // also runs wherever the last owner lets go).
  void performSaveAndSuspendSaveTimer();
  void performDelete();
  void destroySaveTimer();
  void updateAndResumeSaveTimer();
  void createSuspendedSaveTimer();
  void destroyDeleteTimer();
  void updateDeleteTimer();
  void createAndStartDeleteTimer();

 private:
  std::weak_ptr<LGAbstractDatabaseLogger> weakSelf();
  void changeSaveThreshold(std::uint32_t value);
  void changeSaveInterval(double value);
  void changeMaxAge(double value);
  void changeDeleteInterval(double value);

  // Owned by the logger's queue.
  std::uint32_t _saveThreshold = 500;
  double _saveInterval = 60;
  double _maxAge = 60 * 60 * 24 * 7;
  double _deleteInterval = 60 * 5;
  bool _deleteOnEverySave = false;
  bool saveTimerSuspended_ = false;
  std::uint32_t unsavedCount_ = 0;
  std::optional<platform::MonoTime> unsavedTime_;
  std::shared_ptr<platform::dispatch::Source> saveTimer_;
  std::optional<platform::MonoTime> lastDeleteTime_;
  std::shared_ptr<platform::dispatch::Source> deleteTimer_;
};
