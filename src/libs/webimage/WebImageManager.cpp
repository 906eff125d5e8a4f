#include "webimage/WebImageManager.h"

#include "platform/foundation/Thread.h"
#include "webimage/WebImageCache.h"

using platform::Value;

// One request as the manager carries it through the cache and the downloader.
struct WebImageManager::Request {
  Delegate delegate;
  std::string url;
  unsigned options = 0;
  UserInfo userInfo;
  SuccessBlock success;
  FailureBlock failure;
};

namespace {

void tellFinished(WebImageManager& manager,
                  const std::shared_ptr<WebImageManagerDelegate>& delegate,
                  const std::shared_ptr<platform::Image>& image, const std::string& url,
                  const WebImageManager::UserInfo& userInfo) {
  delegate->webImageManagerDidFinishWithImage(manager, image);
  delegate->webImageManagerDidFinishWithImageForURL(manager, image, url);
  delegate->webImageManagerDidFinishWithImageForURLUserInfo(manager, image, url, userInfo);
}

void tellFailed(WebImageManager& manager, const std::shared_ptr<WebImageManagerDelegate>& delegate,
                const std::optional<platform::Error>& error, const std::string& url,
                const WebImageManager::UserInfo& userInfo) {
  delegate->webImageManagerDidFailWithError(manager, error);
  delegate->webImageManagerDidFailWithErrorForURL(manager, error, url);
  delegate->webImageManagerDidFailWithErrorForURLUserInfo(manager, error, url, userInfo);
}

}  // namespace

std::shared_ptr<WebImageManager> WebImageManager::sharedManager() {
  // A function-local static is made once even when threads race for it; never destroyed.
  static auto* manager = new std::shared_ptr<WebImageManager>(new WebImageManager());
  return *manager;
}

std::string WebImageManager::cacheKeyForURL(const std::string& url) const {
  platform::MutexLock lock(mutex_);
  return _cacheKeyFilter ? _cacheKeyFilter(url) : url;
}

void WebImageManager::setCacheKeyFilter(CacheKeyFilter filter) {
  platform::MutexLock lock(mutex_);
  _cacheKeyFilter = std::move(filter);
}

std::shared_ptr<platform::Image> WebImageManager::imageWithURL(
    const std::optional<std::string>& url) {
  if (!url) return nullptr;
  return WebImageCache::sharedImageCache()->imageFromKey(cacheKeyForURL(*url));
}

void WebImageManager::downloadWithURL(const std::optional<std::string>& url,
                                      const Delegate& delegate) {
  downloadWithURL(url, delegate, 0, std::nullopt, nullptr, nullptr);
}

void WebImageManager::downloadWithURL(const std::optional<std::string>& url,
                                      const Delegate& delegate, unsigned options) {
  downloadWithURL(url, delegate, options, std::nullopt, nullptr, nullptr);
}

void WebImageManager::downloadWithURL(const std::optional<std::string>& url,
                                      const Delegate& delegate, unsigned options,
                                      const UserInfo& userInfo) {
  downloadWithURL(url, delegate, options, userInfo, nullptr, nullptr);
}

void WebImageManager::downloadWithURL(const std::optional<std::string>& url,
                                      const Delegate& delegate, unsigned options,
                                      SuccessBlock success, FailureBlock failure) {
  downloadWithURL(url, delegate, options, std::nullopt, std::move(success), std::move(failure));
}

void WebImageManager::downloadWithURLRetryFailed(const std::optional<std::string>& url,
                                                 const Delegate& delegate, bool retryFailed) {
  downloadWithURLRetryFailedLowPriority(url, delegate, retryFailed, false);
}

void WebImageManager::downloadWithURLRetryFailedLowPriority(const std::optional<std::string>& url,
                                                            const Delegate& delegate,
                                                            bool retryFailed, bool lowPriority) {
  unsigned options = retryFailed ? unsigned{WebImageOptions::kRetryFailed} : 0u;
  if (lowPriority) options |= WebImageOptions::kLowPriority;
  downloadWithURL(url, delegate, options);
}

void WebImageManager::downloadWithURL(const std::optional<std::string>& url,
                                      const Delegate& delegate, unsigned options,
                                      const UserInfo& userInfo, SuccessBlock success,
                                      FailureBlock failure) {
  platform::assertMainThread("WebImageManager::downloadWithURL");
  if (!url || url->empty() || !delegate) return;
  if (!(options & WebImageOptions::kRetryFailed) && _failedURLs.count(*url)) return;
  auto request = std::make_shared<Request>(
      Request{delegate, *url, options, userInfo, std::move(success), std::move(failure)});
  cacheDelegates_.push_back(delegate);
  cacheURLs_.push_back(*url);
  WebImageCache::sharedImageCache()->queryDiskCacheForKey(cacheKeyForURL(*url), shared_from_this(),
                                                          Value::object(request));
}

void WebImageManager::imageCacheDidFindImage(WebImageCache&,
                                             const std::shared_ptr<platform::Image>& image,
                                             const std::string&, const Value& userInfo) {
  auto request = userInfo.object<Request>();
  if (!request) return;
  for (std::size_t i = 0; i < cacheDelegates_.size(); ++i) {
    if (cacheDelegates_[i] != request->delegate || cacheURLs_[i] != request->url) continue;
    // Dropped before the delegate hears: it may ask again from its callback.
    cacheDelegates_.erase(cacheDelegates_.begin() + static_cast<std::ptrdiff_t>(i));
    cacheURLs_.erase(cacheURLs_.begin() + static_cast<std::ptrdiff_t>(i));
    auto self = shared_from_this();
    tellFinished(*this, request->delegate, image, request->url, request->userInfo);
    if (request->success) request->success(image, true);
    return;
  }
}

void WebImageManager::imageCacheDidNotFindImageForKey(WebImageCache&, const std::string&,
                                                      const Value& userInfo) {
  auto request = userInfo.object<Request>();
  if (!request) return;
  std::size_t i = 0;
  while (i < cacheDelegates_.size() &&
         (cacheDelegates_[i] != request->delegate || cacheURLs_[i] != request->url))
    ++i;
  if (i == cacheDelegates_.size()) return;  // cancelled meanwhile
  cacheDelegates_.erase(cacheDelegates_.begin() + static_cast<std::ptrdiff_t>(i));
  cacheURLs_.erase(cacheURLs_.begin() + static_cast<std::ptrdiff_t>(i));

  const bool lowPriority = request->options & WebImageOptions::kLowPriority;
  std::shared_ptr<WebImageDownloader> downloader;
  auto running = downloaderForURL_.find(request->url);
  if (running != downloaderForURL_.end()) {
    downloader = running->second;
    downloader->setLowPriority(lowPriority);
  } else {
    downloader = WebImageDownloader::downloaderWithURL(request->url, weak_from_this(),
                                                       Value::object(request), lowPriority);
    downloaderForURL_[request->url] = downloader;
  }
  if (request->options & WebImageOptions::kProgressiveDownload) downloader->setProgressive(true);
  downloadInfo_.push_back(request);
  downloadDelegates_.push_back(request->delegate);
  downloaders_.push_back(downloader);
}

void WebImageManager::imageDownloaderDidUpdatePartialImage(
    WebImageDownloader& downloader, const std::shared_ptr<platform::Image>& image) {
  std::vector<Waiting> told;
  for (std::size_t i = 0; i < downloaders_.size(); ++i) {
    if (downloaders_[i].get() != &downloader) continue;
    bool seen = false;
    for (const auto& w : told) seen = seen || w.delegate == downloadDelegates_[i];
    if (!seen) told.push_back({downloadDelegates_[i], downloadInfo_[i]});
  }
  auto self = shared_from_this();
  for (const auto& w : told) {
    w.delegate->webImageManagerDidProgressWithPartialImageForURL(*this, image, downloader.url());
    w.delegate->webImageManagerDidProgressWithPartialImageForURLUserInfo(
        *this, image, downloader.url(), w.request->userInfo);
  }
}

std::vector<WebImageManager::Waiting> WebImageManager::takeDownloadEntries(
    const WebImageDownloader& downloader) {
  std::vector<Waiting> taken;
  for (std::size_t i = downloaders_.size(); i-- > 0;) {
    if (downloaders_[i].get() != &downloader) continue;
    taken.push_back({downloadDelegates_[i], downloadInfo_[i]});
    auto at = static_cast<std::ptrdiff_t>(i);
    downloaders_.erase(downloaders_.begin() + at);
    downloadDelegates_.erase(downloadDelegates_.begin() + at);
    downloadInfo_.erase(downloadInfo_.begin() + at);
  }
  return taken;
}

void WebImageManager::forgetDownloader(const WebImageDownloader& downloader) {
  auto found = downloaderForURL_.find(downloader.url());
  if (found != downloaderForURL_.end() && found->second.get() == &downloader)
    downloaderForURL_.erase(found);
}

void WebImageManager::imageDownloaderDidFinishWithImage(
    WebImageDownloader& downloader, const std::shared_ptr<platform::Image>& image) {
  auto self = shared_from_this();
  auto keep = downloader.shared_from_this();
  auto starter = downloader.userInfo().object<Request>();
  const unsigned options = starter ? starter->options : 0;
  // Taken out before anyone hears, so a requester may ask again from its callback.
  auto entries = takeDownloadEntries(downloader);
  forgetDownloader(downloader);
  for (const auto& w : entries) {
    if (image) {
      tellFinished(*this, w.delegate, image, w.request->url, w.request->userInfo);
      if (w.request->success) w.request->success(image, false);
    } else {
      tellFailed(*this, w.delegate, std::nullopt, w.request->url, w.request->userInfo);
      if (w.request->failure) w.request->failure(std::nullopt);
    }
  }
  if (image) {
    WebImageCache::sharedImageCache()->storeImage(image, downloader.imageData(),
                                                  cacheKeyForURL(downloader.url()),
                                                  !(options & WebImageOptions::kCacheMemoryOnly));
  } else if (!(options & WebImageOptions::kRetryFailed)) {
    _failedURLs.insert(downloader.url());
  }
}

void WebImageManager::imageDownloaderDidFailWithError(WebImageDownloader& downloader,
                                                      const std::optional<platform::Error>& error) {
  auto self = shared_from_this();
  auto keep = downloader.shared_from_this();
  auto entries = takeDownloadEntries(downloader);
  forgetDownloader(downloader);
  for (const auto& w : entries) {
    tellFailed(*this, w.delegate, error, w.request->url, w.request->userInfo);
    if (w.request->failure) w.request->failure(error);
  }
}

void WebImageManager::cancelForDelegate(const WebImageManagerDelegate* delegate) {
  platform::assertMainThread("WebImageManager::cancelForDelegate");
  if (!delegate) return;
  for (std::size_t i = cacheDelegates_.size(); i-- > 0;) {
    if (cacheDelegates_[i].get() != delegate) continue;
    cacheDelegates_.erase(cacheDelegates_.begin() + static_cast<std::ptrdiff_t>(i));
    cacheURLs_.erase(cacheURLs_.begin() + static_cast<std::ptrdiff_t>(i));
  }
  std::vector<std::shared_ptr<WebImageDownloader>> released;
  for (std::size_t i = downloadDelegates_.size(); i-- > 0;) {
    if (downloadDelegates_[i].get() != delegate) continue;
    auto at = static_cast<std::ptrdiff_t>(i);
    released.push_back(downloaders_[i]);
    downloaders_.erase(downloaders_.begin() + at);
    downloadDelegates_.erase(downloadDelegates_.begin() + at);
    downloadInfo_.erase(downloadInfo_.begin() + at);
  }
  for (const auto& downloader : released) {
    bool used = false;
    for (const auto& d : downloaders_) used = used || d == downloader;
    if (used) continue;
    downloader->cancel();
    forgetDownloader(*downloader);
  }
}

void WebImageManager::cancelAll() {
  platform::assertMainThread("WebImageManager::cancelAll");
  auto running = downloaders_;
  for (const auto& [url, downloader] : downloaderForURL_) running.push_back(downloader);
  cacheDelegates_.clear();
  cacheURLs_.clear();
  downloadDelegates_.clear();
  downloaders_.clear();
  downloadInfo_.clear();
  downloaderForURL_.clear();
  for (const auto& downloader : running) downloader->cancel();
}
