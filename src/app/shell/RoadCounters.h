#pragma once
// RoadCounters: the figures a scripted run ends with, read from where the application keeps
// them rather than from the script:
// - study seconds credited this run: the seconds the players wrote to the study log since the
//   run began (the run's StudyTimeBacklog counts them), so seconds a reused home held at the
//   start do not count;
// - study minutes sent to the server: the minutes of every upload the course server accepted
//   in this run, in the server's own unit (a row of 21 to 59 seconds is sent as one minute);
// - study seconds kept on the device: the unsent seconds in the study log (table "studylog"),
//   whenever they were credited;
// - lecture bytes: the size of each lecture folder the download queue reports finished
//   ("cell_finish"), under the folder the queue downloads to;
// - media-server requests: the responses the local media server wrote out whole.
// The runner samples them before the first step and after every step; the first sample is the
// start of the run. Main thread only.

#include <cstdint>
#include <memory>
#include <optional>
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

  // Reads the study time, the study log and the media server now.
  void sample();

  std::int64_t studySecondsCredited() const { return credited_; }
  std::int64_t studyMinutesSent() const { return sent_; }
  std::int64_t studySecondsKept() const { return kept_; }
  std::uint64_t lectureBytesDownloaded() const { return bytesDownloaded_; }
  std::uint64_t mediaRequestsServed() const;

 private:
  void lectureFinished(const platform::Notification& notification);
  void sampleStudyTime();
  void sampleStudyLog();
  void sampleMediaServer();

  std::shared_ptr<SQLDatabase> db_;
  // What the application had counted when the run began.
  std::optional<std::int64_t> writtenAtStart_;
  std::optional<std::int64_t> acceptedAtStart_;
  std::int64_t credited_ = 0;
  std::int64_t sent_ = 0;
  std::int64_t kept_ = 0;
  std::uint64_t bytesDownloaded_ = 0;
  // Every media server seen, with the last count read from it.
  std::vector<std::pair<std::weak_ptr<LocalHttpServer>, std::uint64_t>> mediaServers_;
  std::unique_ptr<platform::NotificationCenter::Token> finishToken_;
};
