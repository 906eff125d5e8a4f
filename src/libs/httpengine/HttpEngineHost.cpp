#include "httpengine/HttpEngineHost.h"

#include <utility>

#include "platform/foundation/Mutex.h"

namespace {

struct HostSlot {
  platform::Mutex mutex;
  std::shared_ptr<HttpEngineHost> host GUARDED_BY(mutex);
};

HostSlot& hostSlot() {
  // Never destroyed: operations may end their tasks while the process exits.
  static auto* slot = new HostSlot;
  return *slot;
}

}  // namespace

void HttpEngineHost::install(std::shared_ptr<HttpEngineHost> host) {
  HostSlot& slot = hostSlot();
  // The previous host goes after the lock is released: its destructor may do anything.
  std::shared_ptr<HttpEngineHost> previous;
  {
    platform::MutexLock lock(slot.mutex);
    previous = std::exchange(slot.host, std::move(host));
  }
}

std::shared_ptr<HttpEngineHost> HttpEngineHost::installed() {
  HostSlot& slot = hostSlot();
  platform::MutexLock lock(slot.mutex);
  return slot.host;
}
