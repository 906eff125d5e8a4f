#pragma once
// AnalyticsUsageTracker: records which SDK operations were called, as one-character usage codes,
// so the next hit can report them in "&_u". Operations are named by their selector text
// ("set:forKey:"); a selector without a code records nothing.
//
// Process-wide state: the sequence of codes recorded since it was last taken (in call order,
// repeats kept) and, per target, the set of codes recorded for it. The class itself is a target
// (`trackAction` of `Analytics` and the dictionary builder); each tracker has an instance of its
// own. All of it is guarded by one lock, so any thread may record and take codes.

#include <string>

class AnalyticsUsageTracker {
 public:
  AnalyticsUsageTracker() = default;
  // Forgets the codes recorded for this instance.
  ~AnalyticsUsageTracker();
  AnalyticsUsageTracker(const AnalyticsUsageTracker&) = delete;
  AnalyticsUsageTracker& operator=(const AnalyticsUsageTracker&) = delete;

  // The code of `selector`, or 0 when it has none.
  static char codeForSelector(const std::string& selector);

  // Adds the selector's code to `target`'s set and to the sequence.
  static void trackTarget(const void* target, const std::string& selector);
  // Records for the class itself.
  static void trackAction(const std::string& selector);
  // "." followed by the codes recorded since the last call, or "" when none were; starts a new
  // sequence.
  static std::string getUsageSequence();
  // The codes of `target`'s set, plus the class's own when `target` is not the class, sorted
  // and joined; both sets are cleared.
  static std::string getUsageClearingTarget(const void* target);
  // The class's own target.
  static const void* classTarget();

  // Records for this instance (the instance form of `trackAction`, which C++ cannot overload
  // with the class form).
  void trackInstanceAction(const std::string& selector) { trackTarget(this, selector); }
  std::string getUsage() { return getUsageClearingTarget(this); }
};
