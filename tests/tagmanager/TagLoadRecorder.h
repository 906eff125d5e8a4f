#pragma once
// A load callback that records what a loader reports ("start", "success", "success:none",
// "failure:<kind>"), with the last resource it was given. Reports may come from any thread.

#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Mutex.h"
#include "tagmanager/TAGLoadCallback.h"

namespace testsupport {

template <class Resource>
class TagLoadRecorder : public TAGLoadCallback<Resource> {
 public:
  void startLoad() override { add("start"); }
  void onSuccess(std::shared_ptr<const Resource> resource) override {
    {
      platform::MutexLock lock(mutex_);
      last_ = resource;
    }
    add(resource ? "success" : "success:none");
  }
  void onFailure(std::int32_t failure) override { add("failure:" + std::to_string(failure)); }

  std::vector<std::string> events() const {
    platform::MutexLock lock(mutex_);
    return events_;
  }
  std::size_t count() const { return events().size(); }
  std::shared_ptr<const Resource> last() const {
    platform::MutexLock lock(mutex_);
    return last_;
  }

 private:
  void add(std::string event) {
    platform::MutexLock lock(mutex_);
    events_.push_back(std::move(event));
  }

  mutable platform::Mutex mutex_;
  std::vector<std::string> events_ GUARDED_BY(mutex_);
  std::shared_ptr<const Resource> last_ GUARDED_BY(mutex_);
};

}  // namespace testsupport
