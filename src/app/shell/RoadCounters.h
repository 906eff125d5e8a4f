#pragma once
// RoadCounters: the figures a scripted run ends with, read from where the application keeps
// them rather than from the script:
// - study seconds: the local study log (table "studylog" of the store), sampled after every step
//   and while a step waits. A row that grows was credited that much; a row that shrinks or goes
//   was uploaded that much (the upload deducts exactly what the server took). What is left is
//   unsent.
// - lecture bytes: the size of each lecture folder the download queue reports finished
//   ("cell_finish"), under the folder the queue downloads to.
// - media-server requests: the responses the local media server wrote out whole.
// Main thread only.

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "platform/foundation/NotificationCenter.h"

class LocalHttpServer;
class SQLDatabase;

class RoadCounters {
 public:
  RoadCounters();
  ~RoadCounters();
  RoadCounters(const RoadCounters&) = delete;
  RoadCounters& operator=(const RoadCounters&) = delete;

  // Reads the study log and the media server now.
  void sample();

  std::int64_t studySecondsCredited() const { return credited_; }
  std::int64_t studySecondsUploaded() const { return uploaded_; }
  std::int64_t studySecondsUnsent() const;
  std::uint64_t lectureBytesDownloaded() const { return bytesDownloaded_; }
  std::uint64_t mediaRequestsServed() const;

 private:
  void lectureFinished(const platform::Notification& notification);
  void sampleStudyLog();
  void sampleMediaServer();

  std::shared_ptr<SQLDatabase> db_;
  std::map<std::int64_t, std::int64_t> rows_;  // study log row id -> seconds
  std::int64_t credited_ = 0;
  std::int64_t uploaded_ = 0;
  std::uint64_t bytesDownloaded_ = 0;
  // Every media server seen, with the last count read from it.
  std::vector<std::pair<std::weak_ptr<LocalHttpServer>, std::uint64_t>> mediaServers_;
  std::unique_ptr<platform::NotificationCenter::Token> finishToken_;
};
