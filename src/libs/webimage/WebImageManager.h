#pragma once
// WebImageManager: where requests for pictures by URL meet. A request is answered from the
// cache (memory, then disk) or else by a download; requests for one URL share one downloader,
// and a downloaded picture is stored in the cache under the URL's key (on disk too unless
// `WebImageOptions::kCacheMemoryOnly`). A URL whose bytes did not decode is remembered in
// `failedURLs` and later requests for it end silently, unless `kRetryFailed` is asked; a failed
// transfer is not remembered. Requesters hear through WebImageManagerDelegate and, in the forms
// that take them, success and failure callbacks.
//
// Main thread only, but for `imageWithURL` and `cacheKeyForURL`. The requesters are held until
// their request ends or is cancelled. `sharedManager` is made on first use from any thread,
// once.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/foundation/Mutex.h"
#include "platform/ui/Image.h"
#include "webimage/WebImageCacheDelegate.h"
#include "webimage/WebImageDownloader.h"
#include "webimage/WebImageDownloaderDelegate.h"
#include "webimage/WebImageManagerDelegate.h"
#include "webimage/WebImageOptions.h"

class WebImageManager : public WebImageCacheDelegate,
                        public WebImageDownloaderDelegate,
                        public std::enable_shared_from_this<WebImageManager> {
 public:
  using Delegate = std::shared_ptr<WebImageManagerDelegate>;
  using UserInfo = WebImageManagerDelegate::UserInfo;
  using SuccessBlock = std::function<void(const std::shared_ptr<platform::Image>&, bool cached)>;
  // An absent error: the bytes did not decode.
  using FailureBlock = std::function<void(const std::optional<platform::Error>&)>;
  using CacheKeyFilter = std::function<std::string(const std::string& url)>;

  static std::shared_ptr<WebImageManager> sharedManager();

  // The URL itself, or what the filter makes of it.
  std::string cacheKeyForURL(const std::string& url) const EXCLUDES(mutex_);
  void setCacheKeyFilter(CacheKeyFilter filter) EXCLUDES(mutex_);
  // The picture of the URL in the cache (memory, then disk), looked up on the caller's thread.
  std::shared_ptr<platform::Image> imageWithURL(const std::optional<std::string>& url);

  // Nothing happens without a URL (absent or empty) or a delegate.
  void downloadWithURL(const std::optional<std::string>& url, const Delegate& delegate);
  void downloadWithURL(const std::optional<std::string>& url, const Delegate& delegate,
                       unsigned options);
  void downloadWithURL(const std::optional<std::string>& url, const Delegate& delegate,
                       unsigned options, const UserInfo& userInfo);
  void downloadWithURL(const std::optional<std::string>& url, const Delegate& delegate,
                       unsigned options, SuccessBlock success, FailureBlock failure);
  void downloadWithURL(const std::optional<std::string>& url, const Delegate& delegate,
                       unsigned options, const UserInfo& userInfo, SuccessBlock success,
                       FailureBlock failure);
  void downloadWithURLRetryFailed(const std::optional<std::string>& url, const Delegate& delegate,
                                  bool retryFailed);
  void downloadWithURLRetryFailedLowPriority(const std::optional<std::string>& url,
                                             const Delegate& delegate, bool retryFailed,
                                             bool lowPriority);
  // Drops every request of `delegate`; a downloader no request uses any more is cancelled.
  void cancelForDelegate(const WebImageManagerDelegate* delegate);
  // Cancels every download and drops every request; the failed URLs stay.
  void cancelAll();

  const std::set<std::string>& failedURLs() const { return _failedURLs; }
  // How many requests wait for the cache and for downloads (diagnostics).
  std::size_t waitingForCacheCount() const { return cacheDelegates_.size(); }
  std::size_t waitingForDownloadCount() const { return downloadDelegates_.size(); }

  // Cache and downloader answers.
  void imageCacheDidFindImage(WebImageCache&, const std::shared_ptr<platform::Image>& image,
                              const std::string& key, const platform::Value& userInfo) override;
  void imageCacheDidNotFindImageForKey(WebImageCache&, const std::string& key,
                                       const platform::Value& userInfo) override;
  bool takesPartialImages() const override { return true; }
  bool takesFinishedImages() const override { return true; }
  void imageDownloaderDidUpdatePartialImage(WebImageDownloader& downloader,
                                            const std::shared_ptr<platform::Image>& image) override;
  void imageDownloaderDidFinishWithImage(WebImageDownloader& downloader,
                                         const std::shared_ptr<platform::Image>& image) override;
  void imageDownloaderDidFailWithError(WebImageDownloader& downloader,
                                       const std::optional<platform::Error>& error) override;

 private:
  struct Request;
  struct Waiting {
    Delegate delegate;
    std::shared_ptr<Request> request;
  };
  WebImageManager() = default;
  // Takes the download entries of `downloader` out of the lists, last first.
  std::vector<Waiting> takeDownloadEntries(const WebImageDownloader& downloader);
  void forgetDownloader(const WebImageDownloader& downloader);

  mutable platform::Mutex mutex_;
  CacheKeyFilter _cacheKeyFilter GUARDED_BY(mutex_);

  // Main thread only. The cache and download lists run in parallel: entry i of each belongs to
  // one request.
  std::vector<Delegate> cacheDelegates_;
  std::vector<std::string> cacheURLs_;
  std::vector<Delegate> downloadDelegates_;
  std::vector<std::shared_ptr<WebImageDownloader>> downloaders_;
  std::vector<std::shared_ptr<Request>> downloadInfo_;
  std::map<std::string, std::shared_ptr<WebImageDownloader>> downloaderForURL_;
  std::set<std::string> _failedURLs;
};
