#pragma once
// Bundle: the application's information values (name, identifier, version texts) and where its
// resources (images, default containers) lie. The values are compiled in; the application and
// tests may replace them.

#include <optional>
#include <string>

#include "platform/foundation/Mutex.h"
#include "platform/foundation/Value.h"

namespace platform {

class Bundle {
 public:
  static Bundle& main();

  std::optional<Value> objectForInfoDictionaryKey(const std::string& key) const EXCLUDES(mutex_);
  void setInfo(const std::string& key, Value value) EXCLUDES(mutex_);

  std::string name() const;          // "CFBundleName"
  std::string identifier() const;    // "CFBundleIdentifier"
  std::string version() const;       // "CFBundleVersion"
  std::string shortVersion() const;  // "CFBundleShortVersionString"

  // The resources folder: the one set with `setResourcePath`, else CHENGHENG_RESOURCES when
  // set, else the compiled-in one.
  std::string resourcePath() const EXCLUDES(mutex_);
  // An empty path returns to the environment's or the compiled-in folder.
  void setResourcePath(const std::string& path) EXCLUDES(mutex_);
  // "<resources>/<name>.<extension>" (or "<resources>/<name>" for an empty extension) when that
  // file exists.
  std::optional<std::string> pathForResource(const std::string& name,
                                             const std::string& extension) const;

 private:
  Bundle();

  // Guarded by mutex_.
  mutable Mutex mutex_;
  Dictionary info_ GUARDED_BY(mutex_);
  std::string resourcePath_ GUARDED_BY(mutex_);
};

}  // namespace platform
