#pragma once
// Shared pieces of the download tests: a process-wide fake reachability source (the downloader
// is a process singleton that keeps the source it was made with), a recorder of the pipeline's
// notifications, and ffprobe's reading of a stored lecture.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/foundation/NotificationCenter.h"
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

// The number of media packets ffprobe reads through the playlist at `path` when it may open
// local files only (no network), as a player of the offline copy would; -1 when ffprobe cannot
// be run.
int packetsPlayableFromFiles(const std::string& path);

}  // namespace downloadtest
