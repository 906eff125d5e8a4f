#pragma once
// UserDefaults: the application's small persistent settings (first-launch flags, remembered
// accounts, last sync times), a dictionary of Values kept in a file under the home folder's
// Library/Preferences. Reads and writes go to memory; `synchronize` writes the file (atomically,
// by rename), and a new instance reads it back. Thread-safe.
//
// Every kind of Value survives the file except shared objects, which stay in memory only. A file
// that cannot be read as defaults (not JSON, not an object, or nested deeper than
// `Json::kMaxDepth`) is set aside as "<file>.corrupt" rather than overwritten, and the defaults
// start empty: a damaged file must not stop every launch.

#include <optional>
#include <string>

#include "platform/foundation/Mutex.h"
#include "platform/foundation/Value.h"

namespace platform {

class UserDefaults {
 public:
  // The process's defaults, in "<preferences>/defaults.json" of the current home folder. When a
  // test changes the home folder, the next call reads the new home's file.
  static UserDefaults& standard();

  explicit UserDefaults(std::string path);

  std::optional<Value> object(const std::string& key) const EXCLUDES(mutex_);
  void set(const std::string& key, Value value) EXCLUDES(mutex_);
  void remove(const std::string& key) EXCLUDES(mutex_);

  // Typed reads with the platform's conversions (the flags are texts like "YES" or booleans):
  // absent keys read as empty and false.
  std::string stringForKey(const std::string& key) const;
  bool boolForKey(const std::string& key) const;

  // Writes every value to the file; false when the file cannot be written.
  bool synchronize() EXCLUDES(mutex_, writeMutex_);
  const std::string& path() const { return path_; }

 private:
  // Set before start, read-only after.
  const std::string path_;

  // Orders whole file writes, so a slower earlier write cannot replace a later one; taken
  // before mutex_.
  Mutex writeMutex_;

  // Guarded by mutex_.
  mutable Mutex mutex_;
  Dictionary values_ GUARDED_BY(mutex_);
};

}  // namespace platform
