#pragma once
// Shared pieces of the download tests: a process-wide fake reachability source (the downloader
// is a process singleton that keeps the source it was made with), a recorder of the pipeline's
// notifications, and file helpers.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/FakeReachabilitySource.h"

namespace fakeserver {
class FakeCourseServer;
}

namespace downloadtest {

// Every download test reads reachability from this fake, installed before the first test.
platform::FakeReachabilitySource& reachability();

// Records the pipeline's notifications in the order they are posted.
class Recorder {
 public:
  Recorder();

  struct Entry {
    std::string name;
    platform::Dictionary info;
    std::string text(const std::string& key) const;
  };

  std::vector<Entry> named(const std::string& name) const;
  std::size_t count(const std::string& name) const { return named(name).size(); }
  // The "cwId" of every lecture-level notice named `name`.
  std::vector<std::string> keys(const std::string& name) const;
  const std::vector<Entry>& all() const { return entries_; }
  void clear() { entries_.clear(); }

 private:
  std::vector<Entry> entries_;
  std::vector<platform::ObserverToken> tokens_;
};

// What the pipeline said and what the server heard, to explain a failed test.
std::string describe(const Recorder& recorder, const fakeserver::FakeCourseServer& server);

inline bool runUntil(const std::function<bool()>& condition) {
  return platform::RunLoop::main()->runUntil(condition, platform::seconds(20));
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

inline void writeFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

inline bool exists(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::exists(path, ignored);
}

inline std::vector<std::string> filesIn(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ignored))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace downloadtest
