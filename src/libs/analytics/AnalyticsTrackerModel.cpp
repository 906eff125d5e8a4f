#include "analytics/AnalyticsTrackerModel.h"

#include <atomic>
#include <random>

#include "analytics/Analytics.h"
#include "analytics/AnalyticsFields.h"
#include "analytics/AnalyticsHitUtil.h"
#include "analytics/AnalyticsLog.h"
#include "analytics/AnalyticsStringUtil.h"
#include "platform/foundation/Bundle.h"

namespace {

using Compute = std::optional<std::string> (AnalyticsTrackerModel::*)() const;

// The tables below are never destroyed: hits are still built at exit (the store takes in what
// was queued), while statics are being destroyed.
const std::map<std::string, Compute>& computers() {
  static const auto& table = *new std::map<std::string, Compute>{
      {kAnalyticsLanguage, &AnalyticsTrackerModel::language},
      {kAnalyticsClientId, &AnalyticsTrackerModel::clientId},
      {kAnalyticsScreenResolution, &AnalyticsTrackerModel::screenResolution},
  };
  return table;
}

std::string bundleText(const char* key) {
  auto value = platform::Bundle::main().objectForInfoDictionaryKey(key);
  return value ? value->stringValue() : std::string();
}

platform::Dictionary makeDefaultParameters() {
  platform::Dictionary defaults;
  std::string name = bundleText("CFBundleName");
  if (name.empty()) name = bundleText("CFBundleIdentifier");
  if (!name.empty()) {
    defaults[kAnalyticsAppName] = name;
  } else {
    ANALYTICS_LOG_WARNING("could not load application name or identifier.");
  }
  if (auto version =
          platform::Bundle::main().objectForInfoDictionaryKey("CFBundleShortVersionString")) {
    defaults[kAnalyticsAppVersion] = version->stringValue();
  }
  defaults["analyticsVersion"] = "3.01";
  return defaults;
}

std::uint64_t randomSeed() {
  std::random_device random;
  std::uint64_t high = random();
  std::uint64_t low = random();
  return (high << 32) | (low & 0xFFFFFFFFu);
}

}  // namespace

const platform::Dictionary& AnalyticsTrackerModel::defaultParameters() {
  static const auto& defaults = *new platform::Dictionary(makeDefaultParameters());
  return defaults;
}

const platform::Dictionary& AnalyticsTrackerModel::forcedParameters() {
  static const auto& forced = *new platform::Dictionary{{kAnalyticsProtocolVersion, "1"},
                                                        {kAnalyticsSdkVersion, "mi3.0.1"}};
  return forced;
}

const std::map<std::string, std::string>& AnalyticsTrackerModel::methodsForKeys() {
  static const auto& methods = *new std::map<std::string, std::string>{
      {kAnalyticsLanguage, "language"},
      {kAnalyticsClientId, "clientId"},
      {kAnalyticsScreenResolution, "screenResolution"},
  };
  return methods;
}

const std::vector<std::string>& AnalyticsTrackerModel::requiredParameters() {
  static const auto& required = *new std::vector<std::string>([] {
    std::vector<std::string> keys;
    for (const auto& [key, method] : methodsForKeys()) keys.push_back(key);
    for (const auto& [key, value] : defaultParameters()) keys.push_back(key);
    return keys;
  }());
  return required;
}

AnalyticsTrackerModel::AnalyticsTrackerModel() : _parameters(defaultParameters()) {}

std::optional<platform::Value> AnalyticsTrackerModel::objectForKeyedSubscript(
    const std::optional<std::string>& key) const {
  if (!key) return std::nullopt;
  if (const platform::Value* stored = platform::find(_parameters, *key)) return *stored;
  auto computer = computers().find(*key);
  if (computer == computers().end()) return std::nullopt;
  auto computed = (this->*computer->second)();
  if (!computed) return std::nullopt;
  return platform::Value(*computed);
}

void AnalyticsTrackerModel::setObject(const platform::Value& value,
                                      const std::optional<std::string>& key) {
  if (!key) return;
  _parameters[*key] = value;
}

std::optional<std::string> AnalyticsTrackerModel::language() const {
  return AnalyticsHitUtil::systemLanguage();
}

std::optional<std::string> AnalyticsTrackerModel::clientId() const {
  return Analytics::sharedInstance()->clientId();
}

std::optional<std::string> AnalyticsTrackerModel::screenResolution() const {
  return AnalyticsHitUtil::systemScreenResolution();
}

std::string AnalyticsTrackerModel::cacheBuster() {
  static std::atomic<std::uint64_t> counter{randomSeed()};
  return AnalyticsStringUtil::uintString(counter.fetch_add(1));
}

std::shared_ptr<AnalyticsTrackerModel> AnalyticsTrackerModel::copy() const {
  return std::make_shared<AnalyticsTrackerModel>(*this);
}

std::shared_ptr<AnalyticsTrackerModel> AnalyticsTrackerModel::copyWithOverride(
    const platform::Dictionary& override) const {
  auto copied = copy();
  for (const auto& [key, value] : override) copied->setObject(value, key);
  return copied;
}

platform::Dictionary AnalyticsTrackerModel::buildDictionary() const {
  platform::Dictionary built;
  for (const auto& key : requiredParameters()) {
    built[key] = objectForKeyedSubscript(key).value_or(platform::Value());
  }
  for (const auto& [key, value] : _parameters) built[key] = value;
  for (const auto& [key, value] : forcedParameters()) built[key] = value;
  built[kAnalyticsCacheBuster] = cacheBuster();
  return built;
}
