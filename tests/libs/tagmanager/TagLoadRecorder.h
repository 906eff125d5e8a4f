#pragma once
// A load callback that records what a loader reports ("start", "success", "success:none",
// "failure:<kind>"), with the last resource it was given. Reports may come from any thread.

#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Mutex.h"
#include "tagmanager/TagEventList.h"
#include "tagmanager/container/TAGLoadCallback.h"

namespace testsupport {

template <class Resource>
class TagLoadRecorder : public TAGLoadCallback<Resource> {
 public:
  void startLoad() override { events_.add("start"); }
  void onSuccess(std::shared_ptr<const Resource> resource) override {
    {
      platform::MutexLock lock(mutex_);
      last_ = resource;
    }
    events_.add(resource ? "success" : "success:none");
  }
  void onFailure(std::int32_t failure) override {
    events_.add("failure:" + std::to_string(failure));
  }

  std::vector<std::string> events() const { return events_.events(); }
  std::size_t count() const { return events_.count(); }
  std::shared_ptr<const Resource> last() const {
    platform::MutexLock lock(mutex_);
    return last_;
  }

 private:
  TagEventList events_;
  mutable platform::Mutex mutex_;
  std::shared_ptr<const Resource> last_ GUARDED_BY(mutex_);
};

}  // namespace testsupport
