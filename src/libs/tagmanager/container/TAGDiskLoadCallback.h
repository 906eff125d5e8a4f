#pragma once
// TAGDiskLoadCallback: turns the outcome of reading a container's saved copy into container
// state and into notifications of the application's callback (refresh type 0). Each step runs
// under the container's lock, so an outcome is applied as one unit. A saved copy is used only
// while the container still holds its default content; one that does not expand counts as an
// unreadable copy (failure 1), and the container then goes to the network at once, as it does
// after any failure while it is default.

#include <memory>

#include "tagmanager/container/TAGContainerLoadCallback.h"
#include "tagmanager/container/TAGResourceStorage.h"

class TAGDiskLoadCallback : public TAGContainerLoadCallback<tagpb::TAGPResourceWithMetadata> {
 public:
  using TAGContainerLoadCallback::TAGContainerLoadCallback;

  void startLoad() override;
  void onSuccess(std::shared_ptr<const tagpb::TAGPResourceWithMetadata> resource) override;
  void onFailure(std::int32_t failure) override;

  // Disk load failure kind to the failure the application hears.
  static std::int32_t containerFailure(std::int32_t failure);
};
