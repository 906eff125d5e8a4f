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
  startedAt_ = platform::Clock::shared()->now();
  prefetchURLs_ = std::move(urls);
  startNext(_maxConcurrentDownloads);
}

void WebImagePrefetcher::startNext(std::size_t count) {
  pendingStarts_ += count;
  if (starting_) return;
  starting_ = true;
  auto self = shared_from_this();
  while (pendingStarts_ > 0 && requestedCount_ < prefetchURLs_.size()) {
    --pendingStarts_;
    const std::string url = prefetchURLs_[requestedCount_++];
    WebImageManager::sharedManager()->downloadWithURL(url, self, _options);
  }
  pendingStarts_ = 0;
  starting_ = false;
}

void WebImagePrefetcher::webImageManagerDidFinishWithImage(WebImageManager&, const Image&) {
  ++finishedCount_;
  startNext(1);
}

void WebImagePrefetcher::webImageManagerDidFailWithError(WebImageManager&,
                                                         const std::optional<platform::Error>&) {
  ++finishedCount_;
  ++skippedCount_;
  startNext(1);
}

void WebImagePrefetcher::cancelPrefetching() {
  platform::assertMainThread("WebImagePrefetcher::cancelPrefetching");
  prefetchURLs_.clear();
  requestedCount_ = 0;
  finishedCount_ = 0;
  skippedCount_ = 0;
  pendingStarts_ = 0;
  WebImageManager::sharedManager()->cancelForDelegate(this);
}
