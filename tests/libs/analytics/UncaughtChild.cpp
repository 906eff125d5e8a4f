// A process that starts the usage analytics as the application does, stores one screen view and
// then lets an exception go uncaught. The collection hosts come from the environment.
//
//   analytics_uncaught_child <home> [chain]
//
// "chain" installs a terminate handler of its own first, which ends the process with exit code
// 42, to show that the analytics handler hands over to it.

#include <unistd.h>

#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>

#include "analytics/Analytics.h"
#include "analytics/AnalyticsDictionaryBuilder.h"
#include "analytics/AnalyticsFields.h"
#include "analytics/AnalyticsTracker.h"
#include "platform/foundation/Paths.h"

namespace {

[[noreturn]] void previousHandler() { _exit(42); }

[[noreturn]] void throwUncaught() { throw std::out_of_range("lecture index past the end"); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  platform::Paths::setHome(argv[1]);
  if (argc > 2 && std::string(argv[2]) == "chain") std::set_terminate(&previousHandler);
  auto analytics = Analytics::sharedInstance();
  analytics->setTrackUncaughtExceptions(true);
  analytics->setDispatchInterval(20.0);
  analytics->logger()->setLogLevel(4);
  analytics->trackerWithTrackingId("UA-12345-1");
  throwUncaught();
}
