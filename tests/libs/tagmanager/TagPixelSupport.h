#pragma once
// Helpers for pixel-hit tests: running work on TAGThread and waiting for it, and reading the
// pixel-hit store.

#include <functional>
#include <future>
#include <vector>

#include "tagmanager/base/TAGDispatchUtil.h"
#include "tagmanager/pixel/TAGDataProvider.h"

namespace testsupport {

// Runs `work` on TAGThread and waits for it; also lets everything posted there before run.
inline void onTagThread(const std::function<void()>& work = [] {}) {
  TAGDispatchUtil::background(work, true);
}

inline std::vector<TAGHit> storedHits(TAGDataProvider& store, std::uint32_t limit = 0) {
  std::promise<std::vector<TAGHit>> promise;
  store.fetchHitsWithLimit(limit,
                           [&](const TAGDataProvider::HitList& hits) { promise.set_value(hits); });
  return promise.get_future().get();
}

}  // namespace testsupport
