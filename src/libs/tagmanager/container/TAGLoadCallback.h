#pragma once
// TAGLoadCallback: where a load of container data reports its outcome. The disk load hears
// about the saved copy (`Resource` = the resource with its time stamp), the network load about a
// fetched resource; an absent resource from the network means "no change". `onFailure` carries
// the loader's failure kind (see TAGResourceLoader and TAGResourceStorageImpl).
//
// Which thread reports is the loader's to say.

#include <cstdint>
#include <memory>

template <class Resource>
class TAGLoadCallback {
 public:
  virtual ~TAGLoadCallback() = default;
  virtual void startLoad() = 0;
  virtual void onSuccess(std::shared_ptr<const Resource> resource) = 0;
  virtual void onFailure(std::int32_t failure) = 0;
};
