#include "analytics/AnalyticsLog.h"

#include "analytics/Analytics.h"
#include "analytics/AnalyticsLogger.h"

std::string analyticsFunctionName(std::string_view prettyFunction) {
  // The parameter list starts at the first "(" outside angle brackets; the name is the last
  // word before it ("static void A::b(int)" gives "A::b").
  int depth = 0;
  std::size_t open = prettyFunction.size();
  for (std::size_t i = 0; i < prettyFunction.size(); ++i) {
    char c = prettyFunction[i];
    if (c == '<') ++depth;
    if (c == '>' && depth > 0) --depth;
    if (c == '(' && depth == 0) {
      open = i;
      break;
    }
  }
  std::string_view head = prettyFunction.substr(0, open);
  depth = 0;
  std::size_t start = 0;
  for (std::size_t i = head.size(); i-- > 0;) {
    char c = head[i];
    if (c == '>') ++depth;
    if (c == '<' && depth > 0) --depth;
    if ((c == ' ' || c == '*' || c == '&') && depth == 0) {
      start = i + 1;
      break;
    }
  }
  return std::string(head.substr(start));
}

std::string analyticsLogPrefix(std::string_view prettyFunction, std::string_view file, int line) {
  std::size_t slash = file.rfind('/');
  if (slash != std::string_view::npos) file.remove_prefix(slash + 1);
  return "UsageAnalytics 3.01 " + analyticsFunctionName(prettyFunction) + " (" + std::string(file) +
         ":" + std::to_string(line) + "): ";
}

void analyticsLogPlain(AnalyticsLogLevel level, const std::string& message) {
  auto logger = Analytics::sharedLogger();
  if (!logger) return;
  switch (level) {
    case AnalyticsLogLevel::Error:
      logger->error(message);
      break;
    case AnalyticsLogLevel::Warning:
      logger->warning(message);
      break;
    case AnalyticsLogLevel::Info:
      logger->info(message);
      break;
    case AnalyticsLogLevel::Verbose:
      logger->verbose(message);
      break;
  }
}

void analyticsLog(AnalyticsLogLevel level, std::string_view prettyFunction, std::string_view file,
                  int line, const std::string& message) {
  analyticsLogPlain(level, analyticsLogPrefix(prettyFunction, file, line) + message);
}
