#include "analytics/AnalyticsFields.h"

std::string AnalyticsFields::contentGroupForIndex(unsigned index) {
  return "&cg" + std::to_string(index);
}

std::string AnalyticsFields::customDimensionForIndex(unsigned index) {
  return "&cd" + std::to_string(index);
}

std::string AnalyticsFields::customMetricForIndex(unsigned index) {
  return "&cm" + std::to_string(index);
}
