#pragma once
// The analytics SDK's log lines. Every line of the SDK's own classes starts with the prefix
// "UsageAnalytics 3.01 <function> (<file>:<line>): ", where the function is the class and
// operation that logs ("AnalyticsBatchingDispatcher::dispatch") and the file is the source
// file's name, and goes to `Analytics::sharedLogger()` at its level:
//
//   ANALYTICS_LOG_ERROR("Failed to save hit: " + error.localizedDescription());
//
// `analyticsLogPlain` writes a line without the prefix (the dictionary builder's warnings).

#include <string>
#include <string_view>

enum class AnalyticsLogLevel { Error, Warning, Info, Verbose };

// "Class::operation" out of a compiler's function signature: no return type, no parameters.
std::string analyticsFunctionName(std::string_view prettyFunction);
std::string analyticsLogPrefix(std::string_view prettyFunction, std::string_view file, int line);
void analyticsLog(AnalyticsLogLevel level, std::string_view prettyFunction, std::string_view file,
                  int line, const std::string& message);
void analyticsLogPlain(AnalyticsLogLevel level, const std::string& message);

#define ANALYTICS_LOG(level, message) \
  analyticsLog(level, __PRETTY_FUNCTION__, __FILE__, __LINE__, (message))
#define ANALYTICS_LOG_ERROR(message) ANALYTICS_LOG(AnalyticsLogLevel::Error, message)
#define ANALYTICS_LOG_WARNING(message) ANALYTICS_LOG(AnalyticsLogLevel::Warning, message)
#define ANALYTICS_LOG_INFO(message) ANALYTICS_LOG(AnalyticsLogLevel::Info, message)
#define ANALYTICS_LOG_VERBOSE(message) ANALYTICS_LOG(AnalyticsLogLevel::Verbose, message)
