#include "download/DownloadManager.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "download/LectureURL.h"

namespace {

void post(const std::string& name, platform::Dictionary info = {}) {
  platform::NotificationCenter::defaultCenter().post(name, {}, std::move(info));
}

std::string textOf(const platform::Notification& notification, const std::string& key) {
  const platform::Value* value = platform::find(notification.userInfo, key);
  return value && value->asText() ? *value->asText() : std::string();
}

bool isImage(const std::string& url) {
  auto dot = url.rfind('.');
  if (dot == std::string::npos) return false;
  std::string extension = url.substr(dot + 1);
  return extension == "png" || extension == "jpg";
}

// A key names a folder inside the download root: it must be one plain path component.
bool isUsableKey(const std::string& key) {
  return LectureURL::isStorableFileName(key) && key.find('/') == std::string::npos;
}

}  // namespace

DownloadManager::DownloadManager()
    : _siDownloadManager(SIDownloadManager::sharedSIDownloadManager()) {
  auto& center = platform::NotificationCenter::defaultCenter();
  auto observe = [&](const char* name,
                     void (DownloadManager::*handler)(const platform::Notification&)) {
    _observers.push_back(center.addObserver(
        name, [this, handler](const platform::Notification& n) { (this->*handler)(n); }));
  };
  observe("downloadChangeProgress", &DownloadManager::SIProgress);
  observe("downloadDidComplete", &DownloadManager::SIComplete);
  observe("downloadDone", &DownloadManager::SIDone);
  observe("downloadError", &DownloadManager::SIError);
  observe("downloadChangeNetwork", &DownloadManager::SIChangeNetwork);
  observe("parseDownlistOK", &DownloadManager::start);
  // "downloadExist" and "downloadPause" need no reaction: an existing transfer reports its own
  // completion, and a pause was asked for here.
}

DownloadManager::~DownloadManager() { _observers.clear(); }

void DownloadManager::addDownlodTask(const std::shared_ptr<CourseWare>& cw,
                                     const std::string& cwId) {
  if (_isDownloading.count(cwId)) {
    resumeDownload(cwId);
    return;
  }
  // A lecture queued again is no longer paused; left in both sets, the screens would show it
  // paused while it waits in the queue.
  _pauseDic.erase(cwId);
  _isDownloading[cwId] = cw;
  _queueOrder.push_back(cwId);
  if (!_isDownload) return;
  _isDownload = false;
  startDownload(cwId);
}

void DownloadManager::startDownload(const std::string& cwId) {
  post("STARTDOWN");
  _currentCwId = cwId;
  _currentId = 0;
  _currentURL.reset();
  _arryList.clear();
  _downLoadList.reset();
  if (!isUsableKey(cwId)) {
    endCurrent("cell_network_error");
    return;
  }
  auto list = std::make_shared<DownloadList>();
  auto found = _isDownloading.find(cwId);
  list->setCw(found == _isDownloading.end() ? nullptr : found->second);
  list->setCwId(cwId);
  list->setDownloadToPath(_downloadToPath + "/" + cwId);
  _downLoadList = list;
  list->parse();
}

void DownloadManager::start(const platform::Notification& notification) {
  // Only the current lecture's list counts: a list built for a lecture paused or removed
  // meanwhile must not fill this lecture's folder.
  if (_isDownload || !_currentCwId || !_downLoadList || !_arryList.empty()) return;
  if (textOf(notification, "cwId") != *_currentCwId) return;
  const platform::Value* list = platform::find(notification.userInfo, "arryList");
  const platform::Array* urls = list ? list->asArray() : nullptr;
  if (!urls || urls->empty()) return;
  for (const auto& url : *urls) _arryList.push_back(url.stringValue());
  _currentId = 0;
  downIndex();
}

void DownloadManager::downIndex() {
  // A file that is already present is reported done from inside the add, which asks for the
  // next file at once; those steps are taken here in a loop instead of nesting, so a lecture of
  // thousands of present files cannot exhaust the stack.
  if (_inFileStep) {
    _fileStepAgain = true;
    return;
  }
  _inFileStep = true;
  do {
    _fileStepAgain = false;
    _currentURL = _arryList[_currentId];
    std::string target =
        _downLoadList->downloadToPath() + "/" + DownloadList::getFileName(*_currentURL);
    // Images are always fetched anew; other files resume and count as done when present.
    _siDownloadManager->addDownloadFileTaskInQueue(*_currentURL, target, true,
                                                   isImage(*_currentURL));
  } while (_fileStepAgain);
  _inFileStep = false;
}

bool DownloadManager::isCurrentFile(const platform::Notification& notification) const {
  return !_isDownload && _currentURL && textOf(notification, "URL") == *_currentURL;
}

std::string DownloadManager::lectureProgress(double fraction, std::uint32_t index,
                                             std::uint32_t count) {
  // The screens' long-standing reading of progress: (p + i + 1) / (n - 1), capped below 1
  // until the last file is complete.
  std::uint32_t divisor = count - 1u;
  double d = divisor == 0 ? std::numeric_limits<double>::infinity()
                          : (fraction + static_cast<double>(index + 1u)) / divisor;
  float progress = static_cast<float>(d);
  if (progress > 1.0f) progress = (fraction != 1.0 || count == 1) ? 0.99f : 1.0f;
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", progress);
  return text;
}

void DownloadManager::SIProgress(const platform::Notification& notification) {
  if (!isCurrentFile(notification)) return;
  double fraction = platform::leadingDouble(textOf(notification, "progress"));
  post("changP", {{"progress", lectureProgress(fraction, _currentId,
                                               static_cast<std::uint32_t>(_arryList.size()))},
                  {"cwId", *_currentCwId}});
}

void DownloadManager::SIComplete(const platform::Notification& notification) {
  if (!isCurrentFile(notification)) return;
  if (_currentId + 1 >= _arryList.size()) {
    endCurrent("cell_finish");
    return;
  }
  ++_currentId;
  downIndex();
}

void DownloadManager::SIDone(const platform::Notification& notification) {
  SIComplete(notification);
}

void DownloadManager::SIError(const platform::Notification& notification) {
  if (_isDownload || !_currentCwId) return;
  std::string url = textOf(notification, "URL");
  bool playlistError = _arryList.empty() && url == *_currentCwId;
  if (!playlistError && !isCurrentFile(notification)) return;
  // Whatever the error, this lecture cannot go on; what is already in its folder stays.
  endCurrent("cell_network_error");
}

void DownloadManager::endCurrent(const char* notification) {
  std::string key = *_currentCwId;
  post(notification, {{"cwId", key}});
  auto found = _isDownloading.find(key);
  if (found != _isDownloading.end()) {
    _finishedDownlad[key] = found->second;
    dequeue(key);
  }
  continueNextDownlad();
}

void DownloadManager::SIChangeNetwork(const platform::Notification& notification) {
  if (platform::leadingInteger(textOf(notification, "type")) != 1 || _isDownload) return;
  _isError = true;
  auto queued = std::move(_isDownloading);
  _isDownloading.clear();
  _queueOrder.clear();
  for (const auto& [key, lecture] : queued) post("cell_network_error", {{"cwId", key}});
  // Idle means no current lecture: a key left behind would keep showing the failed lecture as
  // the one downloading, and a tap on it would pause nothing instead of queueing it again.
  _isDownload = true;
  _currentCwId.reset();
  _currentURL.reset();
  _downLoadList.reset();
}

void DownloadManager::continueNextDownlad() {
  if (!_queueOrder.empty()) {
    startDownload(_queueOrder.front());
    return;
  }
  _isDownload = true;
  _currentCwId.reset();
  _currentURL.reset();
  _downLoadList.reset();
}

void DownloadManager::dequeue(const std::string& cwId) {
  _isDownloading.erase(cwId);
  std::erase(_queueOrder, cwId);
}

void DownloadManager::pauseDownload(const std::string& cwId) {
  auto found = _isDownloading.find(cwId);
  if (found != _isDownloading.end()) _pauseDic[cwId] = found->second;
  dequeue(cwId);
  if (_isDownload || _currentCwId != cwId) return;
  pauseCurrentDownload();
  continueNextDownlad();
}

void DownloadManager::pauseCurrentDownload() {
  // The partial file of the cancelled transfer stays for a later resume.
  if (_currentURL) _siDownloadManager->cancelDownloadFileTaskInQueue(*_currentURL);
  _downLoadList.reset();
}

void DownloadManager::resumeDownload(const std::string& cwId) {
  auto paused = _pauseDic.find(cwId);
  auto queued = _isDownloading.find(cwId);
  if (paused == _pauseDic.end() && queued == _isDownloading.end()) return;
  std::shared_ptr<CourseWare> lecture = paused != _pauseDic.end() ? paused->second : queued->second;
  if (paused != _pauseDic.end()) _pauseDic.erase(paused);
  if (queued == _isDownloading.end()) {
    _isDownloading[cwId] = lecture;
    _queueOrder.push_back(cwId);
  }
  if (_isDownloading.size() != 1) return;
  _isDownload = false;
  startDownload(cwId);
}

void DownloadManager::removeDownloadTask(const std::string& cwId) {
  dequeue(cwId);
  _pauseDic.erase(cwId);
}

void DownloadManager::cancleAllDownload() {
  if (_currentURL) _siDownloadManager->cancelDownloadFileTaskInQueue(*_currentURL);
  _siDownloadManager->cancelAllDonloads();
}

void DownloadManager::pauseAllDownload() {
  for (const auto& key : _queueOrder) _pauseDic[key] = _isDownloading[key];
  _isDownloading.clear();
  _queueOrder.clear();
  cancleAllDownload();
  _isDownload = true;
  _currentCwId.reset();
  _currentURL.reset();
  _downLoadList.reset();
}

void DownloadManager::reachableViaWWANDown() {
  if (!_currentCwId) return;
  auto found = _isDownloading.find(*_currentCwId);
  if (found == _isDownloading.end()) return;
  addDownlodTask(found->second, *_currentCwId);
}
