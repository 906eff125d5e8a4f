#include "platform/foundation/Bundle.h"

#include <cstdlib>
#include <filesystem>

#include "platform/foundation/Paths.h"

#ifndef CHENGHENG_DEFAULT_RESOURCES
#define CHENGHENG_DEFAULT_RESOURCES "resources"
#endif

namespace platform {

Bundle& Bundle::main() {
  // Never destroyed: read by threads that may outlive static destruction.
  static auto* bundle = new Bundle;
  return *bundle;
}

Bundle::Bundle()
    : info_{{"CFBundleName", "chengheng"},
            {"CFBundleIdentifier", "com.chengheng.app"},
            {"CFBundleVersion", "1.0"},
            {"CFBundleShortVersionString", "1.0"}} {}

std::optional<Value> Bundle::objectForInfoDictionaryKey(const std::string& key) const {
  MutexLock lock(mutex_);
  auto it = info_.find(key);
  if (it == info_.end()) return std::nullopt;
  return it->second;
}

void Bundle::setInfo(const std::string& key, Value value) {
  MutexLock lock(mutex_);
  info_[key] = std::move(value);
}

static std::string textOf(const std::optional<Value>& v) { return v ? v->stringValue() : ""; }

std::string Bundle::name() const { return textOf(objectForInfoDictionaryKey("CFBundleName")); }
std::string Bundle::identifier() const {
  return textOf(objectForInfoDictionaryKey("CFBundleIdentifier"));
}
std::string Bundle::version() const {
  return textOf(objectForInfoDictionaryKey("CFBundleVersion"));
}
std::string Bundle::shortVersion() const {
  return textOf(objectForInfoDictionaryKey("CFBundleShortVersionString"));
}

std::string Bundle::resourcePath() const {
  {
    MutexLock lock(mutex_);
    if (!resourcePath_.empty()) return resourcePath_;
  }
  if (const char* env = std::getenv("CHENGHENG_RESOURCES"); env && *env) return env;
  return CHENGHENG_DEFAULT_RESOURCES;
}

void Bundle::setResourcePath(const std::string& path) {
  MutexLock lock(mutex_);
  resourcePath_ = path;
}

std::optional<std::string> Bundle::pathForResource(const std::string& name,
                                                   const std::string& extension) const {
  if (name.empty()) return std::nullopt;
  std::string file = extension.empty() ? name : name + "." + extension;
  std::string path = Paths::join(resourcePath(), file);
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
  return path;
}

}  // namespace platform
