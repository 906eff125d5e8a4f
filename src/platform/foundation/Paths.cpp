#include "platform/foundation/Paths.h"

#include <cstdlib>
#include <filesystem>

#include "platform/foundation/Mutex.h"

namespace platform {

namespace {

// The home folder a test set for the process; empty: the default.
struct HomeOverride {
  Mutex mutex_;
  std::string path_ GUARDED_BY(mutex_);
};

HomeOverride& homeOverride() {
  static auto* home = new HomeOverride;  // never destroyed: read until the process ends
  return *home;
}

std::string ensure(const std::string& path) {
  std::error_code ignored;
  std::filesystem::create_directories(path, ignored);
  return path;
}

}  // namespace

std::string Paths::home() {
  {
    HomeOverride& set = homeOverride();
    MutexLock lock(set.mutex_);
    if (!set.path_.empty()) return ensure(set.path_);
  }
  if (const char* env = std::getenv("CHENGHENG_HOME"); env && *env) return ensure(env);
  const char* user = std::getenv("HOME");
  return ensure(join(user && *user ? user : "/tmp", ".chengheng"));
}

void Paths::setHome(const std::string& path) {
  HomeOverride& set = homeOverride();
  MutexLock lock(set.mutex_);
  set.path_ = path;
}

std::string Paths::documents() { return ensure(join(home(), "Documents")); }
std::string Paths::library() { return ensure(join(home(), "Library")); }
std::string Paths::caches() { return ensure(join(library(), "Caches")); }
std::string Paths::preferences() { return ensure(join(library(), "Preferences")); }
std::string Paths::temporary() { return ensure(join(home(), "tmp")); }

std::string Paths::join(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  bool aSlash = a.back() == '/', bSlash = b.front() == '/';
  if (aSlash && bSlash) return a + b.substr(1);
  if (aSlash || bSlash) return a + b;
  return a + "/" + b;
}

}  // namespace platform
