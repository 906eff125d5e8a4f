#pragma once
// UserDefaults: the application's small persistent settings (first-launch flags, remembered
// accounts, last sync times), a dictionary of Values kept in a file under the home folder's
// Library/Preferences. Reads and writes go to memory; `synchronize` writes the file (atomically,
// by rename), and a new instance reads it back. Thread-safe.
//
// Every kind of Value survives the file except shared objects, which stay in memory only. A file
// that cannot be read as defaults is set aside as "<file>.corrupt" rather than overwritten.

#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

namespace platform {

class UserDefaults {
 public:
  // The process's defaults, in "<preferences>/defaults.json" of the current home folder. When a
  // test changes the home folder, the next call reads the new home's file.
  static UserDefaults& standard();

  explicit UserDefaults(std::string path);

  std::optional<Value> object(const std::string& key) const;
  void set(const std::string& key, Value value);
  void remove(const std::string& key);

  // Typed reads with the platform's conversions: absent keys read as empty, false, 0.
  std::string stringForKey(const std::string& key) const;
  bool boolForKey(const std::string& key) const;
  std::int64_t integerForKey(const std::string& key) const;
  double doubleForKey(const std::string& key) const;

  // Writes every value to the file; false when the file cannot be written.
  bool synchronize();
  const std::string& path() const { return path_; }

 private:
  void load();
  std::string path_;
  mutable std::mutex mutex_;
  Dictionary values_;
  // Orders whole file writes, so a slower earlier write cannot replace a later one.
  std::mutex writeMutex_;
};

}  // namespace platform
