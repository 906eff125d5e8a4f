#include "tagmanager/tags/TAGUniversalAnalytics.h"

#include <algorithm>
#include <cctype>

#include "analytics/Analytics.h"
#include "platform/foundation/Assert.h"
#include "tagmanager/base/TAGExceptionNames.h"
#include "tagmanager/base/TAGLog.h"
#include "tagmanager/tags/AnalyticsLoggerImpl.h"
#include "tagmanager/values/TAGBoolean.h"
#include "tagmanager/values/TAGTypes.h"

namespace {

constexpr const char* kTrackerName = "__TM_DEFAULT_TRACKER__";

std::string lowercase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

TAGUniversalAnalytics::TAGUniversalAnalytics(std::shared_ptr<TAGDataLayer> dataLayer)
    : TAGTrackingTag(functionId(), std::set<std::string>{}), _dataLayer(std::move(dataLayer)) {}

void TAGUniversalAnalytics::evaluateTrackingTag(const TAGPropertyMap& tag) {
  setLoggerIfNecessary();
  auto tracker = openTracker();
  if (checkBooleanPropertyForTag(tag, "analytics_pass_through")) {
    tracker->send(trackerFieldsWithAnalyticsFields(propertyOf(tag, "analytics_fields")));
  } else if (checkBooleanPropertyForTag(tag, "track_transaction")) {
    sendTransaction(tag, tracker);
  } else {
    TAGLog::warning("Ignoring unknown tag.");
  }
  closeTracker(tracker);
}

bool TAGUniversalAnalytics::checkBooleanPropertyForTag(const TAGPropertyMap& tag,
                                                       const std::string& key) {
  auto value = propertyOf(tag, key);
  return value && TAGTypes::valueToBoolean(value)->boolValue();
}

std::optional<std::string> TAGUniversalAnalytics::dataLayerString(const std::string& key) const {
  if (!_dataLayer) return std::nullopt;
  auto value = _dataLayer->get(key);
  if (!value) return std::nullopt;
  return value->description();
}

std::optional<TAGUniversalAnalytics::FieldMap> TAGUniversalAnalytics::valueToStringMap(
    const TAGPValue::Ref& value) {
  if (!value || value->type() != TAGPValue_Type::Map) return std::nullopt;
  FieldMap map;
  const auto& keys = value->mapKeyArray();
  const auto& values = value->mapValueArray();
  for (std::size_t i = 0; i < keys.size() && i < values.size(); ++i) {
    map[*TAGTypes::valueToString(keys[i])] = *TAGTypes::valueToString(values[i]);
  }
  return map;
}

platform::Dictionary TAGUniversalAnalytics::trackerFieldsWithAnalyticsFields(
    const TAGPValue::Ref& value) const {
  platform::Dictionary fields;
  auto map = valueToStringMap(value);
  if (!map) return fields;
  for (const auto& [key, text] : *map) fields[key] = platform::Value(text);
  auto aip = map->find("&aip");
  if (aip != map->end() && _turnOffAnonymizeIpValues.count(lowercase(aip->second))) {
    fields.erase("&aip");
  }
  return fields;
}

std::shared_ptr<AnalyticsTracker> TAGUniversalAnalytics::openTracker() {
  return Analytics::sharedInstance()->trackerWithTrackingId(kTrackerName);
}

void TAGUniversalAnalytics::closeTracker(const std::shared_ptr<AnalyticsTracker>& tracker) {
  Analytics::sharedInstance()->removeTrackerByName(tracker->name());
}

void TAGUniversalAnalytics::setLoggerIfNecessary() {
  std::shared_ptr<AnalyticsLogger> installed;
  {
    platform::MutexLock lock(mutex_);
    if (_logger) return;
    _logger = std::make_shared<AnalyticsLoggerImpl>();
    installed = _logger;
  }
  Analytics::sharedInstance()->setLogger(installed);
}

std::shared_ptr<AnalyticsLogger> TAGUniversalAnalytics::logger() const {
  platform::MutexLock lock(mutex_);
  return _logger;
}

const TAGUniversalAnalytics::FieldMap& TAGUniversalAnalytics::defaultTransactionMap() {
  static const FieldMap map = {
      {"transactionId", "&ti"},    {"transactionAffiliation", "&ta"},
      {"transactionTax", "&tt"},   {"transactionShipping", "&ts"},
      {"transactionTotal", "&tr"}, {"transactionCurrency", "&cu"},
  };
  return map;
}

const TAGUniversalAnalytics::FieldMap& TAGUniversalAnalytics::defaultItemMap() {
  static const FieldMap map = {
      {"name", "&in"},  {"sku", "&ic"},      {"category", "&iv"},
      {"price", "&ip"}, {"quantity", "&iq"}, {"currency", "&cu"},
  };
  return map;
}

TAGUniversalAnalytics::FieldMap TAGUniversalAnalytics::transactionFieldsForTag(
    const TAGPropertyMap& tag) const {
  if (auto value = propertyOf(tag, "transaction_datalayer_map")) {
    return valueToStringMap(value).value_or(FieldMap{});
  }
  return defaultTransactionMap();
}

TAGUniversalAnalytics::FieldMap TAGUniversalAnalytics::transactionItemFieldsForTag(
    const TAGPropertyMap& tag) const {
  if (auto value = propertyOf(tag, "transaction_item_datalayer_map")) {
    return valueToStringMap(value).value_or(FieldMap{});
  }
  return defaultItemMap();
}

std::vector<platform::Dictionary> TAGUniversalAnalytics::transactionsItems() const {
  std::vector<platform::Dictionary> items;
  auto products = _dataLayer ? _dataLayer->get("transactionProducts") : std::nullopt;
  if (!products) return items;
  const platform::Array* list = products->asArray();
  if (!list) {
    throw platform::Exception(kTAGIllegalArgumentException,
                              "transactionProducts should be of type NSArray");
  }
  for (const auto& element : *list) {
    const platform::Dictionary* item = element.asDictionary();
    if (!item) {
      throw platform::Exception(kTAGIllegalArgumentException,
                                "Each element of transactionProducts should be of type "
                                "NSDictionary");
    }
    items.push_back(*item);
  }
  return items;
}

void TAGUniversalAnalytics::addParam(const std::string& key,
                                     const std::optional<platform::Value>& value,
                                     platform::Dictionary& params) {
  if (value) params[key] = *value;
}

void TAGUniversalAnalytics::sendTransaction(const TAGPropertyMap& tag,
                                            const std::shared_ptr<AnalyticsTracker>& tracker) {
  std::string account;
  if (auto value = propertyOf(tag, "account")) account = *TAGTypes::valueToString(value);
  auto transactionId = dataLayerString("transactionId");
  if (!transactionId) {
    TAGLog::error("Cannot find transactionId in data layer.");
    return;
  }
  std::vector<platform::Dictionary> hits;
  try {
    platform::Dictionary transaction =
        trackerFieldsWithAnalyticsFields(propertyOf(tag, "analytics_fields"));
    transaction["&tid"] = platform::Value(account);
    transaction["&t"] = platform::Value("transaction");
    for (const auto& [key, field] : transactionFieldsForTag(tag)) {
      auto text = dataLayerString(key);
      addParam(field, text ? std::optional<platform::Value>(*text) : std::nullopt, transaction);
    }
    hits.push_back(std::move(transaction));

    auto itemFields = transactionItemFieldsForTag(tag);
    for (const auto& product : transactionsItems()) {
      if (!platform::find(product, "name")) {
        TAGLog::error("Unable to send transaction item hit due to missing 'name' field.");
        return;
      }
      platform::Dictionary item =
          trackerFieldsWithAnalyticsFields(propertyOf(tag, "analytics_fields"));
      item["&t"] = platform::Value("item");
      item["&ti"] = platform::Value(*transactionId);
      for (const auto& [key, field] : itemFields) {
        // As the transaction's values are: hit parameters are texts, and a price or quantity
        // pushed as a number would otherwise never reach the collection service.
        const platform::Value* value = platform::find(product, key);
        addParam(field, value ? std::optional<platform::Value>(value->description()) : std::nullopt,
                 item);
      }
      hits.push_back(std::move(item));
    }
  } catch (const platform::Exception& e) {
    if (e.name() != kTAGIllegalArgumentException) throw;
    TAGLog::error("Unable to send transaction: " + e.reason());
    return;
  }
  for (const auto& hit : hits) tracker->send(hit);
}
