#pragma once
// Single: the process-wide opener of database connections. `loadDB` joins a folder and a file
// name and hands back an open connection to that file, or null when it cannot be opened. Every
// data-access object asks it for a connection of its own.
//
// The file holds password digests, identity card numbers and real names: `loadDB` creates it
// readable and writable by its owner only (SQLite gives its journal the same mode), and takes
// group and other access away from a file that an earlier build created open to them.

#include <memory>
#include <string>

#include "model/ModelTypes.h"
#include "platform/foundation/Mutex.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "sqlite/SQLDatabase.h"

class Single {
 public:
  // The one instance, made on first use (safe from several threads at once).
  static std::shared_ptr<Single> getInstance();

  // A new open connection to `folder`/`dbName`; null when opening fails.
  std::shared_ptr<SQLDatabase> loadDB(const std::string& folder, const std::string& dbName);

  // Kept from the design; nothing in the application sets or reads it.
  model::Number userId() const EXCLUDES(mutex_);
  void setUserId(model::Number userId) EXCLUDES(mutex_);
  void setUserID(model::Number userId) EXCLUDES(mutex_) { setUserId(userId); }

 private:
  mutable platform::Mutex mutex_;

  // Guarded by mutex_.
  model::Number _userId GUARDED_BY(mutex_);
};
