#pragma once
// WebImagePrefetcher: warms the cache from a list of URLs, a few downloads at a time: each
// finish or failure (a failure also counts as skipped) starts the next URL of the list while
// any is left. A new list cancels the one before.
//
// Main thread only. `sharedImagePrefetcher` (3 downloads at a time, low priority) is made on
// first use from any thread, once.

#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"
#include "webimage/WebImageManagerDelegate.h"
#include "webimage/WebImageOptions.h"

class WebImagePrefetcher : public WebImageManagerDelegate,
                           public std::enable_shared_from_this<WebImagePrefetcher> {
 public:
  static std::shared_ptr<WebImagePrefetcher> sharedImagePrefetcher();

  void prefetchURLs(std::vector<std::string> urls);
  void cancelPrefetching();

  const std::vector<std::string>& prefetchURLs() const { return _prefetchURLs; }
  unsigned maxConcurrentDownloads() const { return _maxConcurrentDownloads; }
  void setMaxConcurrentDownloads(unsigned max) { _maxConcurrentDownloads = max; }
  unsigned options() const { return _options; }
  void setOptions(unsigned options) { _options = options; }
  std::size_t requestedCount() const { return _requestedCount; }
  std::size_t finishedCount() const { return _finishedCount; }
  std::size_t skippedCount() const { return _skippedCount; }
  // When the current list was handed over (the shared clock's reading).
  platform::Date startedAt() const { return _startedAt; }

  void webImageManagerDidFinishWithImage(WebImageManager&, const Image&) override;
  void webImageManagerDidFailWithError(WebImageManager&,
                                       const std::optional<platform::Error>&) override;

 private:
  WebImagePrefetcher() = default;
  // Starts the next URLs up to `count` of them; a cache hit answers at once, so the starts are
  // a loop, never a recursion through the answers.
  void startNext(std::size_t count);

  std::vector<std::string> _prefetchURLs;
  unsigned _maxConcurrentDownloads = 3;
  unsigned _options = WebImageOptions::kLowPriority;
  std::size_t _requestedCount = 0;
  std::size_t _finishedCount = 0;
  std::size_t _skippedCount = 0;
  platform::Date _startedAt{};
  std::size_t pendingStarts_ = 0;
  bool starting_ = false;
};
