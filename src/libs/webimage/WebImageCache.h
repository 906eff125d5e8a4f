#pragma once
// WebImageCache: pictures by key, in memory and in the disk folder "ImageCache" under the
// caches folder (one file per key, named by the MD5 hex digest of the key, holding the bytes as
// downloaded, or a JPEG of the picture when there are none). Disk writes and disk reads each run
// on a queue of their own, one at a time; memory is shared by every thread.
//
// A memory warning and entering the background empty the memory; termination removes the files
// older than the maximum age (7 days unless `setMaxCacheAge` says otherwise), read on the
// shared clock.
//
// `sharedImageCache` answers the cache of the current home's caches folder (tests change the
// home), made on first use from any thread, once per folder, and kept for the process.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Mutex.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/Value.h"
#include "platform/ui/Image.h"
#include "webimage/WebImageCacheDelegate.h"

class WebImageCache : public std::enable_shared_from_this<WebImageCache> {
 public:
  static constexpr double kDefaultMaxCacheAge = 60 * 60 * 24 * 7;
  static constexpr const char* kFolderName = "ImageCache";

  static std::shared_ptr<WebImageCache> sharedImageCache();
  // Seconds a file stays on disk (process-wide).
  static void setMaxCacheAge(double seconds);
  static double maxCacheAge();

  ~WebImageCache();
  WebImageCache(const WebImageCache&) = delete;
  WebImageCache& operator=(const WebImageCache&) = delete;

  const std::string& diskCachePath() const { return _diskCachePath; }
  // The file of `key` in the disk folder.
  std::string cachePathForKey(const std::string& key) const;

  // Each needs a picture and a key. Writing to disk happens later, on the write queue.
  void storeImage(const std::shared_ptr<platform::Image>& image, const std::string& key);
  void storeImage(const std::shared_ptr<platform::Image>& image, const std::string& key,
                  bool toDisk);
  void storeImage(const std::shared_ptr<platform::Image>& image,
                  const std::optional<platform::Bytes>& imageData, const std::string& key,
                  bool toDisk) EXCLUDES(mutex_);

  // Memory, then the disk file (read on the caller's thread, not force-decoded).
  std::shared_ptr<platform::Image> imageFromKey(const std::string& key);
  std::shared_ptr<platform::Image> imageFromKey(const std::string& key, bool fromDisk)
      EXCLUDES(mutex_);
  // Answers `delegate` (see WebImageCacheDelegate); nothing without a delegate.
  void queryDiskCacheForKey(const std::optional<std::string>& key,
                            std::shared_ptr<WebImageCacheDelegate> delegate,
                            platform::Value userInfo) EXCLUDES(mutex_);

  void removeImageForKey(const std::string& key);
  void removeImageForKey(const std::string& key, bool fromDisk) EXCLUDES(mutex_);
  // Cancels queued writes and empties memory.
  void clearMemory() EXCLUDES(mutex_);
  // Cancels queued writes, removes the folder and makes it again.
  void clearDisk();
  // Removes every file not modified after now minus the maximum age.
  void cleanDisk();
  // Bytes of the files in the folder, and the number of its entries.
  std::uint64_t getSize() const;
  std::size_t getDiskCount() const;

 private:
  explicit WebImageCache(std::string diskCachePath);
  void observeApplication();
  // The write queue's work: the bytes, or a JPEG of the picture in memory or on disk.
  void storeKeyWithDataToDisk(const std::string& key, const std::string& path,
                              const std::optional<platform::Bytes>& data);
  std::shared_ptr<platform::Image> imageFromKeyAt(const std::string& key, const std::string& path,
                                                  bool fromDisk) EXCLUDES(mutex_);

  // Set at construction, read-only after.
  const std::string _diskCachePath;
  std::shared_ptr<platform::OperationQueue> cacheInQueue_;
  std::shared_ptr<platform::OperationQueue> cacheOutQueue_;
  std::vector<platform::ObserverToken> observers_;

  // The memory cache, shared by the caller's thread and both queues.
  mutable platform::Mutex mutex_;
  std::map<std::string, std::shared_ptr<platform::Image>> memCache_ GUARDED_BY(mutex_);
};
