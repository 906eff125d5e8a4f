#pragma once
// Deciding "does not hang" in a bounded time: the call runs on a thread of its own and the test
// waits for it up to a generous limit, so a regression fails in seconds instead of holding the
// suite until its time-out. A call that never returns is left behind on its detached thread.

#include <functional>

namespace testsupport {

// True when `call` returned within `seconds` of real time.
bool returnsWithin(double seconds, std::function<void()> call);

}  // namespace testsupport
