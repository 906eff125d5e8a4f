#include "download/DownloadManager.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "download/DownloadNotifications.h"
#include "download/LectureURL.h"
#include "platform/foundation/Thread.h"

namespace {

void post(const char* name, platform::Dictionary info = {}) {
  platform::NotificationCenter::defaultCenter().post(name, {}, std::move(info));
}

std::string textOf(const platform::Notification& notification, const char* key) {
  const platform::Value* value = platform::find(notification.userInfo, key);
  return value && value->asText() ? *value->asText() : std::string();
}

const platform::Array* arrayOf(const platform::Notification& notification, const char* key) {
  const platform::Value* value = platform::find(notification.userInfo, key);
  return value ? value->asArray() : nullptr;
}

bool isImage(const std::string& url) {
  auto dot = url.rfind('.');
  if (dot == std::string::npos) return false;
  std::string extension = url.substr(dot + 1);
  return extension == "png" || extension == "jpg";
}

// A key names a folder inside the download root, and a stored name a file inside the lecture
// folder: each must be one plain path component.
bool isPlainName(const std::string& name) {
  return LectureURL::isStorableFileName(name) && name.find('/') == std::string::npos;
}

}  // namespace

DownloadManager::DownloadManager()
    : _siDownloadManager(SIDownloadManager::sharedSIDownloadManager()) {
  platform::assertMainThread("DownloadManager::DownloadManager");
  auto& center = platform::NotificationCenter::defaultCenter();
  auto observe = [&](const char* name,
                     void (DownloadManager::*handler)(const platform::Notification&)) {
    observers_.push_back(center.addObserver(
        name, [this, handler](const platform::Notification& n) { (this->*handler)(n); }));
  };
  observe(kDownloadChangeProgress, &DownloadManager::SIProgress);
  observe(kDownloadDidComplete, &DownloadManager::SIComplete);
  observe(kDownloadDone, &DownloadManager::SIDone);
  observe(kDownloadError, &DownloadManager::SIError);
  observe(kDownloadChangeNetwork, &DownloadManager::SIChangeNetwork);
  observe(kParseDownlistOK, &DownloadManager::start);
  // "downloadExist" and "downloadPause" need no reaction: an existing transfer reports its own
  // completion, and a pause was asked for here.
}

DownloadManager::~DownloadManager() { observers_.clear(); }

void DownloadManager::setDownloadToPath(std::string path) {
  platform::assertMainThread("DownloadManager::setDownloadToPath");
  _downloadToPath = std::move(path);
}

void DownloadManager::addDownlodTask(const std::shared_ptr<CourseWare>& cw,
                                     const std::string& cwId) {
  platform::assertMainThread("DownloadManager::addDownlodTask");
  if (_isDownloading.count(cwId)) {
    resumeDownload(cwId);
    return;
  }
  // A lecture queued again is no longer paused; left in both sets, the screens would show it
  // paused while it waits in the queue.
  _pauseDic.erase(cwId);
  _isDownloading[cwId] = cw;
  queueOrder_.push_back(cwId);
  if (!_isDownload) return;
  _isDownload = false;
  startDownload(cwId);
}

void DownloadManager::startDownload(const std::string& cwId) {
  post(kStartDown);
  _currentCwId = cwId;
  _currentId = 0;
  _currentURL.reset();
  _arryList.clear();
  fileNames_.clear();
  _downLoadList.reset();
  if (!isPlainName(cwId)) {
    endCurrent(kCellNetworkError);
    return;
  }
  auto list = DownloadList::create();
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
  if (textOf(notification, kCwIdKey) != *_currentCwId) return;
  const platform::Array* urls = arrayOf(notification, kArryListKey);
  if (!urls || urls->empty()) return;
  const platform::Array* names = arrayOf(notification, kFileNamesKey);
  for (std::size_t i = 0; i < urls->size(); ++i) {
    std::string url = (*urls)[i].stringValue();
    // A list that names no stored files is stored the plain way: under the URL's last component.
    std::string name = names && names->size() == urls->size() ? (*names)[i].stringValue() : "";
    fileNames_.push_back(isPlainName(name) ? name : DownloadList::getFileName(url));
    _arryList.push_back(std::move(url));
  }
  _currentId = 0;
  downIndex();
}

void DownloadManager::downIndex() {
  // A file that is already present is reported done from inside the add, which asks for the
  // next file at once; those steps are taken here in a loop instead of nesting, so a lecture of
  // thousands of present files cannot exhaust the stack.
  if (inFileStep_) {
    fileStepAgain_ = true;
    return;
  }
  inFileStep_ = true;
  do {
    fileStepAgain_ = false;
    _currentURL = _arryList[_currentId];
    std::string target = _downLoadList->downloadToPath() + "/" + fileNames_[_currentId];
    // Images are always fetched anew; other files resume and count as done when present.
    _siDownloadManager->addDownloadFileTaskInQueue(*_currentURL, target, true,
                                                   isImage(*_currentURL));
  } while (fileStepAgain_);
  inFileStep_ = false;
}

bool DownloadManager::isCurrentFile(const platform::Notification& notification) const {
  return !_isDownload && _currentURL && textOf(notification, kURLKey) == *_currentURL;
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
  double fraction = platform::leadingDouble(textOf(notification, kProgressKey));
  post(kChangP, {{kProgressKey, lectureProgress(fraction, _currentId,
                                                static_cast<std::uint32_t>(_arryList.size()))},
                 {kCwIdKey, *_currentCwId}});
}

void DownloadManager::SIComplete(const platform::Notification& notification) {
  if (!isCurrentFile(notification)) return;
  if (_currentId + 1 >= _arryList.size()) {
    endCurrent(kCellFinish);
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
  std::string url = textOf(notification, kURLKey);
  bool playlistError = _arryList.empty() && url == *_currentCwId;
  if (!playlistError && !isCurrentFile(notification)) return;
  // Whatever the error, this lecture cannot go on; what is already in its folder stays. The
  // error goes along, so the screens can tell a full disk from a network failure.
  const platform::Value* error = platform::find(notification.userInfo, kErrorKey);
  endCurrent(kCellNetworkError, error ? *error : platform::Value());
}

void DownloadManager::endCurrent(const char* notification, const platform::Value& error) {
  std::string key = *_currentCwId;
  platform::Dictionary info{{kCwIdKey, key}};
  if (!error.isNull()) info[kErrorKey] = error;
  post(notification, std::move(info));
  auto found = _isDownloading.find(key);
  if (found != _isDownloading.end()) {
    _finishedDownlad[key] = found->second;
    dequeue(key);
  }
  continueNextDownlad();
}

void DownloadManager::SIChangeNetwork(const platform::Notification& notification) {
  if (platform::leadingInteger(textOf(notification, kTypeKey)) != 1 || _isDownload) return;
  _isError = true;
  auto queued = std::move(_isDownloading);
  _isDownloading.clear();
  queueOrder_.clear();
  for (const auto& [key, lecture] : queued) post(kCellNetworkError, {{kCwIdKey, key}});
  // Idle means no current lecture: a key left behind would keep showing the failed lecture as
  // the one downloading, and a tap on it would pause nothing instead of queueing it again.
  _isDownload = true;
  _currentCwId.reset();
  _currentURL.reset();
  _downLoadList.reset();
}

void DownloadManager::continueNextDownlad() {
  if (!queueOrder_.empty()) {
    startDownload(queueOrder_.front());
    return;
  }
  _isDownload = true;
  _currentCwId.reset();
  _currentURL.reset();
  _downLoadList.reset();
}

void DownloadManager::dequeue(const std::string& cwId) {
  _isDownloading.erase(cwId);
  std::erase(queueOrder_, cwId);
}

void DownloadManager::pauseDownload(const std::string& cwId) {
  platform::assertMainThread("DownloadManager::pauseDownload");
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
  platform::assertMainThread("DownloadManager::resumeDownload");
  auto paused = _pauseDic.find(cwId);
  auto queued = _isDownloading.find(cwId);
  if (paused == _pauseDic.end() && queued == _isDownloading.end()) return;
  std::shared_ptr<CourseWare> lecture = paused != _pauseDic.end() ? paused->second : queued->second;
  if (paused != _pauseDic.end()) _pauseDic.erase(paused);
  if (queued == _isDownloading.end()) {
    _isDownloading[cwId] = lecture;
    queueOrder_.push_back(cwId);
  }
  if (_isDownloading.size() != 1) return;
  _isDownload = false;
  startDownload(cwId);
}

void DownloadManager::removeDownloadTask(const std::string& cwId) {
  platform::assertMainThread("DownloadManager::removeDownloadTask");
  dequeue(cwId);
  _pauseDic.erase(cwId);
}

void DownloadManager::cancleAllDownload() {
  platform::assertMainThread("DownloadManager::cancleAllDownload");
  if (_currentURL) _siDownloadManager->cancelDownloadFileTaskInQueue(*_currentURL);
  _siDownloadManager->cancelAllDonloads();
}

void DownloadManager::pauseAllDownload() {
  platform::assertMainThread("DownloadManager::pauseAllDownload");
  for (const auto& key : queueOrder_) _pauseDic[key] = _isDownloading[key];
  _isDownloading.clear();
  queueOrder_.clear();
  cancleAllDownload();
  _isDownload = true;
  _currentCwId.reset();
  _currentURL.reset();
  _downLoadList.reset();
}

void DownloadManager::reachableViaWWANDown() {
  platform::assertMainThread("DownloadManager::reachableViaWWANDown");
  if (!_currentCwId) return;
  auto found = _isDownloading.find(*_currentCwId);
  if (found == _isDownloading.end()) return;
  addDownlodTask(found->second, *_currentCwId);
}
