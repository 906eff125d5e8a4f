#pragma once
// TAGResourceStorage: a container's view of where its content is kept: the saved copy on disk
// (read and written in the background, the read reported to the load callback on the main
// queue) and the default containers shipped in the bundle (read at once on the caller's
// thread).

#include <memory>
#include <string>

#include "tagmanager/container/TAGLoadCallback.h"
#include "tagmanager/proto/resource_with_metadata.pb.h"
#include "tagmanager/proto/serving.pb.h"
#include "tagmanager/runtime/TAGExpandedResource.h"

class TAGResourceStorage {
 public:
  using LoadCallback = TAGLoadCallback<tagpb::TAGPResourceWithMetadata>;

  virtual ~TAGResourceStorage() = default;
  virtual void loadResourceFromDiskInBackground() = 0;
  virtual void saveResourceToDiskInBackground(
      std::shared_ptr<const tagpb::TAGPResourceWithMetadata> resource) = 0;
  virtual std::shared_ptr<const tagpb::TAGPResource> loadResourceFromContainerFile(
      const std::string& containerId) = 0;
  virtual std::shared_ptr<const TAGExpandedResource> loadExpandedResourceFromJsonFile(
      const std::string& containerId) = 0;
  virtual std::shared_ptr<const TAGExpandedResource> loadExpandedResourceFromPlistFile(
      const std::string& containerId) = 0;
  virtual std::shared_ptr<LoadCallback> loadCallback() const = 0;
  virtual void setLoadCallback(std::shared_ptr<LoadCallback> callback) = 0;
};
