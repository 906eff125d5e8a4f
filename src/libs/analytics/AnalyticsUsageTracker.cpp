#include "analytics/AnalyticsUsageTracker.h"

#include <algorithm>
#include <map>
#include <set>

#include "platform/foundation/Mutex.h"

namespace {

struct UsageState {
  platform::Mutex mutex;
  std::string sequence GUARDED_BY(mutex);
  std::map<const void*, std::set<char>> perTarget GUARDED_BY(mutex);
};

UsageState& state() {
  // Never destroyed: trackers on other threads may record while the process exits.
  static auto* s = new UsageState;
  return *s;
}

const std::map<std::string, char>& codeTable() {
  static const std::map<std::string, char> table = {
      {"set:forKey:", 'A'},
      {"setAll:", 'B'},
      {"dictionaryGet:", 'C'},
      {"setCampaignParametersFromUrl:", 'D'},
      {"get:", 'J'},
      {"set:value:", 'K'},
      {"send:", 'L'},
      {"setTrackUncaughtExceptions:", 'e'},
      {"trackUncaughtExceptions", 'f'},
      {"createTransactionWithId:affiliation:revenue:tax:shipping:currencyCode:", 'g'},
      {"createExceptionWithDescription:withFatal:", 'h'},
      {"createTimingWithCategory:interval:name:label:", 'j'},
      {"createSocialWithNetwork:action:target:", 'k'},
      {"createAppView", '-'},
      {"trackerWithName:trackingId:", 'n'},
      {"defaultTracker", 'o'},
      {"setDefaultTracker:", 'p'},
      {"setOptOut:", 'q'},
      {"optOut", 'r'},
      {"dispatch", 's'},
      {"setDispatchInterval:", 't'},
      {"createEventWithCategory:action:label:value:", 'y'},
      {"createItemWithTransactionId:name:sku:category:price:quantity:currencyCode:", 'z'},
      {"setDryRun:", '2'},
      {"dryRun", '3'},
      {"setLogger:", '4'},
      {"removeTrackerByName:", '7'},
  };
  return table;
}

const char kClassTarget = 0;

}  // namespace

AnalyticsUsageTracker::~AnalyticsUsageTracker() {
  UsageState& s = state();
  platform::MutexLock lock(s.mutex);
  s.perTarget.erase(this);
}

const void* AnalyticsUsageTracker::classTarget() { return &kClassTarget; }

char AnalyticsUsageTracker::codeForSelector(const std::string& selector) {
  auto it = codeTable().find(selector);
  return it == codeTable().end() ? 0 : it->second;
}

void AnalyticsUsageTracker::trackTarget(const void* target, const std::string& selector) {
  char code = codeForSelector(selector);
  if (!code) return;
  UsageState& s = state();
  platform::MutexLock lock(s.mutex);
  s.perTarget[target].insert(code);
  s.sequence.push_back(code);
}

void AnalyticsUsageTracker::trackAction(const std::string& selector) {
  trackTarget(classTarget(), selector);
}

std::string AnalyticsUsageTracker::getUsageSequence() {
  std::string taken;
  {
    UsageState& s = state();
    platform::MutexLock lock(s.mutex);
    taken.swap(s.sequence);
  }
  return taken.empty() ? std::string() : "." + taken;
}

std::string AnalyticsUsageTracker::getUsageClearingTarget(const void* target) {
  std::set<char> codes;
  UsageState& s = state();
  platform::MutexLock lock(s.mutex);
  for (const void* key : {target, classTarget()}) {
    auto it = s.perTarget.find(key);
    if (it == s.perTarget.end()) continue;
    codes.insert(it->second.begin(), it->second.end());
    s.perTarget.erase(it);
  }
  return std::string(codes.begin(), codes.end());
}
