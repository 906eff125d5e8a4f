#pragma once
// TAGResourceStorageImpl: one container's saved copy, the file "resource_<id>" under
// Library/"Application Support"/"Tags"/"TagManager" holding exactly one serialised resource with
// its time stamp, and the default containers in the bundle (resource named by the id: no
// extension for the binary form, "plist" and "json" for the others).
//
// Disk reads report to the load callback on the main queue: `onSuccess` with the saved copy, or
// `onFailure` 1 (no saved copy, or the container is being previewed) or 2 (the file does not
// parse, or the data folder cannot be made). A write replaces the file as a whole (a temporary
// sibling renamed over it), so a reader never sees half a file and a failed write leaves none.
//
// Any thread may call; reads and writes run on the global queue.

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Mutex.h"
#include "platform/foundation/SharedObject.h"
#include "tagmanager/container/TAGResourceStorage.h"
#include "tagmanager/values/TAGTypeOrFailure.h"

class TAGResourceStorageImpl : public TAGResourceStorage,
                               public std::enable_shared_from_this<TAGResourceStorageImpl> {
  CH_SHARED_OBJECT(TAGResourceStorageImpl)

 public:
  using Outcome = TAGTypeOrFailure<tagpb::TAGPResourceWithMetadata>;

  // The data folder, made when missing; raises "UnableToCreateDataDirectory" when it cannot be.
  static std::string dataPath();
  std::string resourceFilename() const;

  void loadResourceFromDiskInBackground() override;
  Outcome loadResourceFromDisk();
  void saveResourceToDiskInBackground(
      std::shared_ptr<const tagpb::TAGPResourceWithMetadata> resource) override;
  void saveResourceToDiskInBackground(
      std::shared_ptr<const tagpb::TAGPResourceWithMetadata> resource,
      std::function<void(bool)> resultBlock);
  bool saveResourceToDisk(const tagpb::TAGPResourceWithMetadata& resource);

  std::shared_ptr<const tagpb::TAGPResource> loadResourceFromContainerFile(
      const std::string& containerId) override;
  std::shared_ptr<const TAGExpandedResource> loadExpandedResourceFromJsonFile(
      const std::string& containerId) override;
  std::shared_ptr<const TAGExpandedResource> loadExpandedResourceFromPlistFile(
      const std::string& containerId) override;

  std::shared_ptr<LoadCallback> loadCallback() const override EXCLUDES(mutex_);
  void setLoadCallback(std::shared_ptr<LoadCallback> callback) override EXCLUDES(mutex_);

 protected:
  explicit TAGResourceStorageImpl(std::string containerId) : containerId_(std::move(containerId)) {}

 private:
  const std::string containerId_;
  mutable platform::Mutex mutex_;
  std::shared_ptr<LoadCallback> _loadCallback GUARDED_BY(mutex_);
};
