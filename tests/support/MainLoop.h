#pragma once
// Driving the main run loop from a test: run it until something holds, with a generous limit
// so a regression fails instead of hanging.

#include <functional>

namespace testsupport {

// Runs the main run loop until `predicate` holds or `seconds` of clock time pass; true when it
// held.
bool runUntil(const std::function<bool()>& predicate, double seconds = 20);

}  // namespace testsupport
