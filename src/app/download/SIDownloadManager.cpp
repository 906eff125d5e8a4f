#include "download/SIDownloadManager.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <mutex>

#include "download/DownloadNotifications.h"
#include "download/LectureURL.h"
#include "net/ServerConfig.h"
#include "platform/foundation/Digest.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"
#include "platform/net/URLError.h"

namespace fs = std::filesystem;

namespace {

platform::Dictionary urlInfo(const std::string& url) { return {{kURLKey, url}}; }

void post(const std::string& name, platform::Dictionary info, platform::Value object = {}) {
  platform::NotificationCenter::defaultCenter().post(name, std::move(object), std::move(info));
}

void postError(const std::string& url, const platform::Error& error) {
  post(kDownloadError,
       {{kURLKey, url},
        {kErrorKey, platform::Value::object(std::make_shared<platform::Error>(error))}});
}

std::string format2(double fraction) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", fraction);
  return text;
}

// A file error of the POSIX domain for a failed file-system step.
platform::Error fileError(const std::error_code& code, const std::string& what) {
  return platform::Error::posix(code.value() ? code.value() : EIO, what);
}

}  // namespace

std::shared_ptr<SIDownloadManager> SIDownloadManager::sharedSIDownloadManager() {
  static std::once_flag once;
  static std::shared_ptr<SIDownloadManager> shared;
  std::call_once(once, [] { shared.reset(new SIDownloadManager()); });
  return shared;
}

SIDownloadManager::SIDownloadManager()
    : HttpEngine(ServerConfig::webHost(), HeaderDictionary{{"x-client-identifier", "iOS"}}) {}

std::string SIDownloadManager::tempFilePathFor(const std::string& targetPath) {
  static const std::string kSuffix = ".temp";
  std::string prefix = platform::md5Hex(targetPath).substr(0, 16) + "_";
  // The partial name must itself be storable when the target's name is near the limit; the
  // prefix already tells targets apart, so the name may lose some of its end.
  std::string name =
      LectureURL::fitFileName(LectureURL::fileName(targetPath),
                              LectureURL::kMaxFileNameBytes - prefix.size() - kSuffix.size());
  return platform::Paths::temporary() + "/" + prefix + name + kSuffix;
}

void SIDownloadManager::addDownloadFileTaskInQueue(const std::string& url,
                                                   const std::string& toFilePath,
                                                   bool /*breakpointResume*/, bool rewriteFile) {
  platform::assertMainThread("SIDownloadManager::addDownloadFileTaskInQueue");
  std::string partial = tempFilePathFor(toFilePath);
  // A rewrite must not delete the partial file a running transfer is still writing: that
  // transfer could then never move its file into place.
  bool partialInUse =
      std::any_of(_downloadArray.begin(), _downloadArray.end(),
                  [&](const auto& running) { return running->tempFilePath() == partial; });
  auto operation = SIBreakpointsDownload::operationWithURLString(
      url, std::nullopt, "GET", partial, toFilePath, rewriteFile && !partialInUse);
  _dic = urlInfo(url);
  if (!operation) {
    std::error_code ignored;
    if (fs::is_regular_file(toFilePath, ignored)) {
      post(kDownloadDone, urlInfo(url));
    } else {
      // Not present and no transfer could be made: the URL is unusable.
      postError(url, platform::urlError(platform::kURLErrorBadURL, url));
    }
    return;
  }
  for (const auto& running : _downloadArray) {
    if (running->url() == operation->url()) {
      post(kDownloadExist, urlInfo(url));
      return;
    }
  }
  start(operation, url, true);
}

void SIDownloadManager::start(const std::shared_ptr<SIBreakpointsDownload>& operation,
                              const std::string& url, bool restartAllowed) {
  std::weak_ptr<SIDownloadManager> weakSelf =
      std::static_pointer_cast<SIDownloadManager>(shared_from_this());
  std::weak_ptr<SIBreakpointsDownload> weakOperation = operation;
  operation->onFileProgressChanged([url](double fraction) {
    post(kDownloadChangeProgress, {{kURLKey, url}, {kProgressKey, format2(fraction)}});
  });
  operation->addCompletionHandler(
      [weakSelf, weakOperation, url](const HttpOperation::Ptr&) {
        auto self = weakSelf.lock();
        auto transfer = weakOperation.lock();
        if (!self || !transfer) return;
        self->finishSoon(transfer, url);
      },
      [weakSelf, weakOperation, url, restartAllowed](const HttpOperation::Ptr&,
                                                     const platform::Error& error) {
        auto self = weakSelf.lock();
        auto transfer = weakOperation.lock();
        if (self && transfer) self->failed(transfer, url, error, restartAllowed);
      });
  _downloadArray.push_back(operation);
  // Started from here: a transfer is never cached, so it needs none of the global queue's
  // steps, and the next file's request goes out without waking two more threads.
  enqueueUncachedOperation(operation);
}

void SIDownloadManager::finishSoon(const std::shared_ptr<SIBreakpointsDownload>& operation,
                                   const std::string& url) {
  // Finished on the next turn of the main loop, once the connection that delivered the outcome
  // is released, so the next file's request can reuse it at once. The file is complete: it is
  // moved into place even if a cancel comes in between.
  auto self = std::static_pointer_cast<SIDownloadManager>(shared_from_this());
  platform::RunLoop::main()->perform([self, operation, url] { self->finish(operation, url); });
}

void SIDownloadManager::finish(const std::shared_ptr<SIBreakpointsDownload>& operation,
                               const std::string& url) {
  remove(operation);
  const std::string& target = operation->downloadFilePath();
  std::error_code error;
  if (fs::exists(target, error)) fs::remove(target, error);
  if (!error) fs::rename(operation->tempFilePath(), target, error);
  if (error) {
    // The partial file stays; the lecture can be fetched again once its folder is usable.
    postError(url, fileError(error, "cannot move the downloaded file to " + target));
    return;
  }
  std::error_code ignored;
  fs::remove(SIBreakpointsDownload::validatorPathFor(operation->tempFilePath()), ignored);
  post(kDownloadDidComplete, urlInfo(url),
       platform::Value::object(std::static_pointer_cast<SIDownloadManager>(shared_from_this())));
}

void SIDownloadManager::failed(const std::shared_ptr<SIBreakpointsDownload>& operation,
                               const std::string& url, const platform::Error& error,
                               bool restartAllowed) {
  remove(operation);
  auto recovery = operation->recovery();
  if (recovery == SIBreakpointsDownload::Recovery::Complete) {
    finishSoon(operation, url);
    return;
  }
  // The server's range did not continue the partial file, which is gone now: the file is asked
  // for once more from its first byte, once. A short answer that added bytes is followed by a
  // request for the rest; each such answer grows the file, so this ends.
  bool again = recovery == SIBreakpointsDownload::Recovery::Continue ||
               (recovery == SIBreakpointsDownload::Recovery::Restart && restartAllowed);
  if (again) {
    auto next = SIBreakpointsDownload::operationWithURLString(
        url, std::nullopt, "GET", operation->tempFilePath(), operation->downloadFilePath(), false);
    if (next) {
      start(next, url, restartAllowed && recovery != SIBreakpointsDownload::Recovery::Restart);
      return;
    }
  }
  postError(url, error);
}

void SIDownloadManager::remove(const std::shared_ptr<SIBreakpointsDownload>& operation) {
  std::erase(_downloadArray, operation);
}

void SIDownloadManager::cancelDownloadFileTaskInQueue(const std::string& url) {
  platform::assertMainThread("SIDownloadManager::cancelDownloadFileTaskInQueue");
  std::shared_ptr<SIBreakpointsDownload> match;
  for (auto it = _downloadArray.rbegin(); it != _downloadArray.rend(); ++it) {
    if ((*it)->url() == url) {
      match = *it;
      break;
    }
  }
  post(kDownloadPause, urlInfo(url));
  if (!match) return;
  match->cancel();
  remove(match);
}

void SIDownloadManager::cancelAllDonloads() {
  platform::assertMainThread("SIDownloadManager::cancelAllDonloads");
  auto transfers = std::move(_downloadArray);
  _downloadArray.clear();
  for (const auto& transfer : transfers) transfer->cancel();
}

void SIDownloadManager::reachabilityChanged(const platform::Notification&) {
  platform::assertMainThread("SIDownloadManager::reachabilityChanged");
  auto watcher = reachability();
  NetworkStatus status = watcher ? watcher->currentReachabilityStatus() : NotReachable;
  const char* type = kNetworkTypeWWAN;
  if (status == NotReachable) {
    cancelAllDonloads();
    type = kNetworkTypeOffline;
  } else if (status == ReachableViaWiFi) {
    type = kNetworkTypeWiFi;
  }
  post(kDownloadChangeNetwork, {{kTypeKey, platform::Value(type)}});
}
