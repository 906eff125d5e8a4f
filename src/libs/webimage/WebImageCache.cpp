#include "webimage/WebImageCache.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/dispatch/Queue.h"
#include "platform/foundation/ApplicationNotifications.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Digest.h"
#include "platform/foundation/Paths.h"
#include "webimage/ImageForceDecode.h"
#include "webimage/WebImageScale.h"

namespace fs = std::filesystem;
using platform::Bytes;

namespace {

std::atomic<double> maxAge{WebImageCache::kDefaultMaxCacheAge};

std::optional<Bytes> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Written beside and renamed, so a reader never sees half a file.
void writeFile(const std::string& path, const Bytes& bytes) {
  std::string temporary = path + ".part";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return;
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
      out.close();
      std::error_code ignored;
      fs::remove(temporary, ignored);
      return;
    }
  }
  std::error_code failed;
  fs::rename(temporary, path, failed);
  if (failed) fs::remove(temporary, failed);
}

}  // namespace

std::shared_ptr<WebImageCache> WebImageCache::sharedImageCache() {
  static auto* mutex = new platform::Mutex();
  static auto* caches = new std::map<std::string, std::shared_ptr<WebImageCache>>();
  std::string path = platform::Paths::join(platform::Paths::caches(), kFolderName);
  platform::MutexLock lock(*mutex);
  auto& cache = (*caches)[path];
  if (!cache) {
    cache.reset(new WebImageCache(path));
    cache->observeApplication();
  }
  return cache;
}

void WebImageCache::setMaxCacheAge(double seconds) { maxAge = seconds; }

double WebImageCache::maxCacheAge() { return maxAge; }

WebImageCache::WebImageCache(std::string diskCachePath)
    : _diskCachePath(std::move(diskCachePath)),
      cacheInQueue_(platform::OperationQueue::create("webimage.cache.in")),
      cacheOutQueue_(platform::OperationQueue::create("webimage.cache.out")) {
  cacheInQueue_->setMaxConcurrentOperationCount(1);
  cacheOutQueue_->setMaxConcurrentOperationCount(1);
  std::error_code ignored;
  fs::create_directories(_diskCachePath, ignored);
}

WebImageCache::~WebImageCache() {
  observers_.clear();
  cacheInQueue_->waitUntilAllOperationsAreFinished();
  cacheOutQueue_->waitUntilAllOperationsAreFinished();
}

void WebImageCache::observeApplication() {
  auto& center = platform::NotificationCenter::defaultCenter();
  // The tokens go with the cache, and a token waits for a callback in progress, so `this` is
  // alive whenever these run.
  observers_.push_back(
      center.addObserver(platform::kApplicationDidReceiveMemoryWarningNotification,
                         [this](const platform::Notification&) { clearMemory(); }));
  observers_.push_back(
      center.addObserver(platform::kApplicationDidEnterBackgroundNotification,
                         [this](const platform::Notification&) { clearMemory(); }));
  observers_.push_back(center.addObserver(platform::kApplicationWillTerminateNotification,
                                          [this](const platform::Notification&) { cleanDisk(); }));
}

std::string WebImageCache::cachePathForKey(const std::string& key) const {
  return platform::Paths::join(_diskCachePath, platform::md5Hex(key));
}

void WebImageCache::storeImage(const std::shared_ptr<platform::Image>& image,
                               const std::string& key) {
  storeImage(image, std::nullopt, key, true);
}

void WebImageCache::storeImage(const std::shared_ptr<platform::Image>& image,
                               const std::string& key, bool toDisk) {
  storeImage(image, std::nullopt, key, toDisk);
}

void WebImageCache::storeImage(const std::shared_ptr<platform::Image>& image,
                               const std::optional<Bytes>& imageData, const std::string& key,
                               bool toDisk) {
  if (!image || key.empty()) return;
  {
    platform::MutexLock lock(mutex_);
    memCache_[key] = image;
  }
  if (!toDisk) return;
  std::weak_ptr<WebImageCache> weak = weak_from_this();
  // The file's name is worked out here: the digest library's exit-time clean-up does not
  // synchronise with threads that used it, and the queue's thread is never joined.
  cacheInQueue_->addOperation([weak, key, path = cachePathForKey(key), imageData] {
    if (auto cache = weak.lock()) cache->storeKeyWithDataToDisk(key, path, imageData);
  });
}

void WebImageCache::storeKeyWithDataToDisk(const std::string& key, const std::string& path,
                                           const std::optional<Bytes>& data) {
  std::error_code ignored;
  fs::create_directories(_diskCachePath, ignored);
  if (data) {
    writeFile(path, *data);
    return;
  }
  auto image = imageFromKeyAt(key, path, true);
  if (!image) return;
  if (auto jpeg = image->JPEGRepresentation(1.0)) writeFile(path, *jpeg);
}

std::shared_ptr<platform::Image> WebImageCache::imageFromKey(const std::string& key) {
  return imageFromKey(key, true);
}

std::shared_ptr<platform::Image> WebImageCache::imageFromKey(const std::string& key,
                                                             bool fromDisk) {
  if (key.empty()) return nullptr;
  return imageFromKeyAt(key, fromDisk ? cachePathForKey(key) : std::string(), fromDisk);
}

std::shared_ptr<platform::Image> WebImageCache::imageFromKeyAt(const std::string& key,
                                                               const std::string& path,
                                                               bool fromDisk) {
  {
    platform::MutexLock lock(mutex_);
    auto found = memCache_.find(key);
    if (found != memCache_.end()) return found->second;
  }
  if (!fromDisk) return nullptr;
  auto data = readFile(path);
  if (!data) return nullptr;
  auto image = WebImageScale::imageWithData(*data, key);
  if (!image) return nullptr;
  platform::MutexLock lock(mutex_);
  memCache_[key] = image;
  return image;
}

void WebImageCache::queryDiskCacheForKey(const std::optional<std::string>& key,
                                         std::shared_ptr<WebImageCacheDelegate> delegate,
                                         platform::Value userInfo) {
  if (!delegate) return;
  if (!key) {
    delegate->imageCacheDidNotFindImageForKey(*this, "", userInfo);
    return;
  }
  std::shared_ptr<platform::Image> inMemory;
  {
    platform::MutexLock lock(mutex_);
    auto found = memCache_.find(*key);
    if (found != memCache_.end()) inMemory = found->second;
  }
  if (inMemory) {
    delegate->imageCacheDidFindImage(*this, inMemory, *key, userInfo);
    return;
  }
  auto self = shared_from_this();
  cacheOutQueue_->addOperation(
      [self, key = *key, path = cachePathForKey(*key), delegate, userInfo] {
        std::shared_ptr<platform::Image> image;
        if (auto data = readFile(path)) {
          image = WebImageScale::imageWithData(*data, key);
          if (auto decoded = ImageForceDecode::decodedImageWithImage(image)) image = decoded;
        }
        platform::dispatch::Queue::main()->async([self, key, delegate, userInfo, image] {
          if (!image) {
            delegate->imageCacheDidNotFindImageForKey(*self, key, userInfo);
            return;
          }
          {
            platform::MutexLock lock(self->mutex_);
            self->memCache_[key] = image;
          }
          delegate->imageCacheDidFindImage(*self, image, key, userInfo);
        });
      });
}

void WebImageCache::removeImageForKey(const std::string& key) { removeImageForKey(key, true); }

void WebImageCache::removeImageForKey(const std::string& key, bool fromDisk) {
  if (key.empty()) return;
  {
    platform::MutexLock lock(mutex_);
    memCache_.erase(key);
  }
  if (!fromDisk) return;
  std::error_code ignored;
  fs::remove(cachePathForKey(key), ignored);
}

void WebImageCache::clearMemory() {
  cacheInQueue_->cancelAllOperations();
  platform::MutexLock lock(mutex_);
  memCache_.clear();
}

void WebImageCache::clearDisk() {
  cacheInQueue_->cancelAllOperations();
  std::error_code ignored;
  fs::remove_all(_diskCachePath, ignored);
  fs::create_directories(_diskCachePath, ignored);
}

void WebImageCache::cleanDisk() {
  const platform::Date expiration =
      platform::Clock::shared()->now() - std::chrono::duration_cast<platform::Date::duration>(
                                             std::chrono::duration<double>(maxCacheAge()));
  std::error_code failed;
  std::vector<fs::path> expired;
  for (fs::recursive_directory_iterator it(_diskCachePath, failed), end; !failed && it != end;
       it.increment(failed)) {
    if (!it->is_regular_file(failed)) continue;
    auto written = fs::last_write_time(it->path(), failed);
    if (failed) continue;
    auto modified = std::chrono::time_point_cast<platform::Date::duration>(
        std::chrono::file_clock::to_sys(written));
    if (modified <= expiration) expired.push_back(it->path());
  }
  for (const auto& path : expired) fs::remove(path, failed);
}

std::uint64_t WebImageCache::getSize() const {
  std::uint64_t size = 0;
  std::error_code failed;
  for (fs::directory_iterator it(_diskCachePath, failed), end; !failed && it != end;
       it.increment(failed)) {
    std::error_code fileFailed;
    if (it->is_regular_file(fileFailed)) size += it->file_size(fileFailed);
  }
  return size;
}

std::size_t WebImageCache::getDiskCount() const {
  std::size_t count = 0;
  std::error_code failed;
  for (fs::directory_iterator it(_diskCachePath, failed), end; !failed && it != end;
       it.increment(failed))
    ++count;
  return count;
}
