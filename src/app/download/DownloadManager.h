#pragma once
// DownloadManager: the lecture download queue. It downloads one lecture at a time: for the
// current lecture it has a DownloadList build the file list, hands the files one after the other
// to the file downloader, follows the downloader's notifications and reports to the screens
// (object absent):
//   "STARTDOWN"           a lecture becomes current
//   "changP"              {"progress": "%.3f" of the lecture, "cwId"} after each progress notice
//   "cell_finish"         {"cwId"}: the lecture's last file is in place (or was present)
//   "cell_network_error"  {"cwId", "error" when known}: the lecture failed (any error of its
//                         playlist or a file), or, on losing the network while busy, once per
//                         queued lecture
// A lecture that ends (finished, failed or paused) makes the next queued lecture start at once.
//
// Notices are matched to the work in hand: a file list counts only when it is the current
// lecture's, and progress, completion and error notices only when they name the current file
// (or, for a playlist error, the current lecture). Nothing of the queue is stored.
//
// Lecture folders are "<downloadToPath>/<download key>"; each file goes to the name its list
// gave it. Main thread only (checked in debug builds).
//
// The screens are the callers: the course detail screen queues lectures, the download list
// screen pauses, resumes, retries, removes and reads the sets, the settings screen calls
// `pauseAllDownload` at logout and the application delegate reads `downingCount`. Kept from the
// design with no caller yet: `allDownloaded`, `reachableViaWWANDown`, `isError`, `autoStart`,
// `currentURL`.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "download/DownloadList.h"
#include "download/SIDownloadManager.h"
#include "model/CourseWare.h"
#include "platform/foundation/NotificationCenter.h"

class DownloadManager {
 public:
  using Lectures = std::map<std::string, std::shared_ptr<CourseWare>>;

  DownloadManager();
  ~DownloadManager();
  DownloadManager(const DownloadManager&) = delete;
  DownloadManager& operator=(const DownloadManager&) = delete;

  // Queues the lecture (starting it at once when idle); a queued key is resumed instead.
  void addDownlodTask(const std::shared_ptr<CourseWare>& cw, const std::string& cwId);
  // Moves a queued lecture to the paused set; pausing the current one cancels its file and
  // starts the next lecture.
  void pauseDownload(const std::string& cwId);
  // Moves a paused lecture back to the end of the queue; it starts when it is the only one.
  void resumeDownload(const std::string& cwId);
  // Drops the key from the queue and the paused set; a running file is not cancelled.
  void removeDownloadTask(const std::string& cwId);
  // Cancels the current file and every transfer of the downloader; the queue stays as it is.
  void cancleAllDownload();
  // Logout: every queued lecture moves to the paused set, every transfer is cancelled and the
  // manager becomes idle, so later downloads start again.
  void pauseAllDownload();
  // Queues the current lecture again.
  void reachableViaWWANDown();

  const std::string& downloadToPath() const { return _downloadToPath; }
  void setDownloadToPath(std::string path);
  std::size_t downingCount() const { return _isDownloading.size(); }
  const std::optional<std::string>& currentCwId() const { return _currentCwId; }
  const std::optional<std::string>& currentURL() const { return _currentURL; }
  const Lectures& isDownloading() const { return _isDownloading; }
  const Lectures& pauseDic() const { return _pauseDic; }
  const Lectures& allDownloaded() const { return _finishedDownlad; }
  // True while no lecture is current.
  bool isDownload() const { return _isDownload; }
  bool isError() const { return _isError; }
  bool autoStart() const { return _autoStart; }
  void setAutoStart(bool value) { _autoStart = value; }
  const std::vector<std::string>& arryList() const { return _arryList; }
  // The stored name of each file of `arryList`, in the same order.
  const std::vector<std::string>& fileNames() const { return fileNames_; }
  std::uint32_t currentId() const { return _currentId; }

  // The lecture progress text for file `index` of `count` at file fraction `fraction`.
  static std::string lectureProgress(double fraction, std::uint32_t index, std::uint32_t count);

 private:
  void startDownload(const std::string& cwId);
  void downIndex();
  void continueNextDownlad();
  void pauseCurrentDownload();
  // The current lecture ended by finishing or failing (with `error`, when known): leaves the
  // queue, next one starts.
  void endCurrent(const char* notification, const platform::Value& error = {});
  void dequeue(const std::string& cwId);
  bool isCurrentFile(const platform::Notification& notification) const;

  void start(const platform::Notification& notification);
  void SIProgress(const platform::Notification& notification);
  void SIComplete(const platform::Notification& notification);
  void SIDone(const platform::Notification& notification);
  void SIError(const platform::Notification& notification);
  void SIChangeNetwork(const platform::Notification& notification);

  // Named by the design.
  std::shared_ptr<SIDownloadManager> _siDownloadManager;
  std::string _downloadToPath;
  Lectures _isDownloading;
  Lectures _pauseDic;
  Lectures _finishedDownlad;
  std::optional<std::string> _currentCwId;
  std::uint32_t _currentId = 0;
  std::optional<std::string> _currentURL;
  std::vector<std::string> _arryList;
  std::shared_ptr<DownloadList> _downLoadList;
  bool _isDownload = true;
  bool _isError = false;
  bool _autoStart = false;

  // Our own.
  // The keys of `_isDownloading` in queue order.
  std::vector<std::string> queueOrder_;
  std::vector<std::string> fileNames_;
  // Set while a file step runs, and when it asked for another one meanwhile.
  bool inFileStep_ = false;
  bool fileStepAgain_ = false;
  // Last, so the observers go before anything they touch.
  std::vector<platform::ObserverToken> observers_;
};
