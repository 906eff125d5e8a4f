#pragma once
// Bundle: the application's information values (name, identifier, version texts) and where its
// resources (images, default containers) lie. The values are compiled in; the application and
// tests may replace them.

#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

namespace platform {

class Bundle {
 public:
  static Bundle& main();

  std::optional<Value> objectForInfoDictionaryKey(const std::string& key) const;
  void setInfo(const std::string& key, Value value);

  std::string name() const;          // "CFBundleName"
  std::string identifier() const;    // "CFBundleIdentifier"
  std::string version() const;       // "CFBundleVersion"
  std::string shortVersion() const;  // "CFBundleShortVersionString"

  // The resources folder: the one set with `setResourcePath`, else CHENGHENG_RESOURCES when
  // set, else the compiled-in one.
  std::string resourcePath() const;
  // An empty path returns to the environment's or the compiled-in folder.
  void setResourcePath(const std::string& path);
  // "<resources>/<name>.<extension>" (or "<resources>/<name>" for an empty extension) when that
  // file exists.
  std::optional<std::string> pathForResource(const std::string& name,
                                             const std::string& extension) const;

 private:
  Bundle();
  mutable std::mutex mutex_;
  Dictionary info_;
  std::string resourcePath_;
};

}  // namespace platform
