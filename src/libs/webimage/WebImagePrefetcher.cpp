#include "webimage/WebImagePrefetcher.h"

#include "platform/foundation/Clock.h"
#include "platform/foundation/Thread.h"
#include "webimage/WebImageManager.h"

std::shared_ptr<WebImagePrefetcher> WebImagePrefetcher::sharedImagePrefetcher() {
  // A function-local static is made once even when threads race for it; never destroyed.
  static auto* prefetcher = new std::shared_ptr<WebImagePrefetcher>(new WebImagePrefetcher());
  return *prefetcher;
}

void WebImagePrefetcher::prefetchURLs(std::vector<std::string> urls) {
  platform::assertMainThread("WebImagePrefetcher::prefetchURLs");
  cancelPrefetching();
  _startedAt = platform::Clock::shared()->now();
  _prefetchURLs = std::move(urls);
  startNext(_maxConcurrentDownloads);
}

void WebImagePrefetcher::startNext(std::size_t count) {
  pendingStarts_ += count;
  if (starting_) return;
  starting_ = true;
  auto self = shared_from_this();
  while (pendingStarts_ > 0 && _requestedCount < _prefetchURLs.size()) {
    --pendingStarts_;
    const std::string url = _prefetchURLs[_requestedCount++];
    WebImageManager::sharedManager()->downloadWithURL(url, self, _options);
  }
  pendingStarts_ = 0;
  starting_ = false;
}

void WebImagePrefetcher::webImageManagerDidFinishWithImage(WebImageManager&, const Image&) {
  ++_finishedCount;
  startNext(1);
}

void WebImagePrefetcher::webImageManagerDidFailWithError(WebImageManager&,
                                                         const std::optional<platform::Error>&) {
  ++_finishedCount;
  ++_skippedCount;
  startNext(1);
}

void WebImagePrefetcher::cancelPrefetching() {
  platform::assertMainThread("WebImagePrefetcher::cancelPrefetching");
  _prefetchURLs.clear();
  _requestedCount = 0;
  _finishedCount = 0;
  _skippedCount = 0;
  pendingStarts_ = 0;
  WebImageManager::sharedManager()->cancelForDelegate(this);
}
