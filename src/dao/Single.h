#pragma once
// Single: the process-wide opener of database connections. `loadDB` joins a folder and a file
// name and hands back an open connection to that file, or null when it cannot be opened. Every
// data-access object asks it for a connection of its own.

#include <memory>
#include <mutex>
#include <string>

#include "model/ModelTypes.h"
#include "sqlite/SQLDatabase.h"

class Single {
 public:
  // The one instance, made on first use (safe from several threads at once).
  static std::shared_ptr<Single> getInstance();

  // A new open connection to `folder`/`dbName`; null when opening fails.
  std::shared_ptr<SQLDatabase> loadDB(const std::string& folder, const std::string& dbName);

  // Kept for callers that set it; nothing reads it.
  model::Number userId() const;
  void setUserId(model::Number userId);
  void setUserID(model::Number userId) { setUserId(userId); }

 private:
  mutable std::mutex mutex_;
  model::Number _userId;
};
