#include "analytics/AnalyticsDictionaryBuilder.h"

#include "analytics/AnalyticsFields.h"
#include "analytics/AnalyticsLog.h"
#include "analytics/AnalyticsStringUtil.h"
#include "analytics/AnalyticsUsageTracker.h"

namespace {

// The name of a value's kind, for warnings about values of the wrong kind.
const char* kindName(const platform::Value& value) {
  using Kind = platform::Value::Kind;
  switch (value.kind()) {
    case Kind::Null:
      return "Null";
    case Kind::Bool:
      return "Bool";
    case Kind::Integer:
      return "Integer";
    case Kind::Double:
      return "Double";
    case Kind::Text:
      return "Text";
    case Kind::Bytes:
      return "Bytes";
    case Kind::Date:
      return "Date";
    case Kind::Array:
      return "Array";
    case Kind::Dictionary:
      return "Dictionary";
    case Kind::Object:
      return "Object";
  }
  return "Value";
}

}  // namespace

platform::Value AnalyticsDictionaryBuilder::valueForString(
    const std::optional<std::string>& value) {
  if (!value) return platform::Value();
  return platform::Value(*value);
}

platform::Value AnalyticsDictionaryBuilder::valueForNumber(const platform::Value& value) {
  if (!value.isNumber()) return platform::Value();
  return platform::Value(value.stringValue());
}

AnalyticsDictionaryBuilder& AnalyticsDictionaryBuilder::set(const std::optional<std::string>& value,
                                                            const std::optional<std::string>& key) {
  AnalyticsUsageTracker::trackAction("set:forKey:");
  if (!key) {
    analyticsLogPlain(AnalyticsLogLevel::Warning, "nil key not allowed in setString");
    return *this;
  }
  _parameters[*key] = valueForString(value);
  return *this;
}

AnalyticsDictionaryBuilder& AnalyticsDictionaryBuilder::setAll(const platform::Dictionary& params) {
  AnalyticsUsageTracker::trackAction("setAll:");
  for (const auto& [key, value] : params) {
    if (!value.isNull() && !value.asText()) {
      analyticsLogPlain(AnalyticsLogLevel::Warning,
                        std::string("Unexpected value type: ") + kindName(value));
      continue;
    }
    _parameters[key] = value;
  }
  return *this;
}

std::optional<std::string> AnalyticsDictionaryBuilder::get(const std::string& key) {
  AnalyticsUsageTracker::trackAction("dictionaryGet:");
  const platform::Value* value = platform::find(_parameters, key);
  if (!value || value->isNull()) return std::nullopt;
  if (const std::string* text = value->asText()) return *text;
  analyticsLogPlain(AnalyticsLogLevel::Warning,
                    std::string("Unexpected type in Builder: ") + kindName(*value));
  return std::nullopt;
}

AnalyticsDictionaryBuilder& AnalyticsDictionaryBuilder::setCampaignParametersFromUrl(
    const std::string& urlString) {
  AnalyticsUsageTracker::trackAction("setCampaignParametersFromUrl:");
  std::string query = AnalyticsStringUtil::urlParams(urlString);
  if (query.empty()) query = urlString;
  platform::Dictionary pairs = AnalyticsStringUtil::decodeParametersFromQuery(query);
  static const std::pair<const char*, const char*> kCampaignFields[] = {
      {"utm_source", kAnalyticsCampaignSource},   {"utm_medium", kAnalyticsCampaignMedium},
      {"utm_campaign", kAnalyticsCampaignName},   {"utm_term", kAnalyticsCampaignKeyword},
      {"utm_content", kAnalyticsCampaignContent}, {"utm_id", kAnalyticsCampaignId},
      {"gclid", kAnalyticsCampaignClickId},       {"dclid", kAnalyticsCampaignDisplayClickId},
      {"gmob_t", kAnalyticsCampaignMobileTag},
  };
  for (const auto& [name, field] : kCampaignFields) {
    const platform::Value* value = platform::find(pairs, name);
    _parameters[field] = value ? *value : platform::Value();
  }
  return *this;
}

std::shared_ptr<AnalyticsDictionaryBuilder> AnalyticsDictionaryBuilder::withHitType(
    const char* hitType) {
  auto builder = std::make_shared<AnalyticsDictionaryBuilder>();
  builder->_parameters[kAnalyticsHitType] = hitType;
  return builder;
}

std::shared_ptr<AnalyticsDictionaryBuilder> AnalyticsDictionaryBuilder::createAppView() {
  AnalyticsUsageTracker::trackAction("createAppView");
  return withHitType(kAnalyticsAppView);
}

std::shared_ptr<AnalyticsDictionaryBuilder> AnalyticsDictionaryBuilder::createEventWithCategory(
    const std::optional<std::string>& category, const std::optional<std::string>& action,
    const std::optional<std::string>& label, const platform::Value& value) {
  AnalyticsUsageTracker::trackAction("createEventWithCategory:action:label:value:");
  auto builder = withHitType(kAnalyticsEvent);
  auto& p = builder->_parameters;
  p[kAnalyticsEventCategory] = valueForString(category);
  p[kAnalyticsEventAction] = valueForString(action);
  p[kAnalyticsEventLabel] = valueForString(label);
  p[kAnalyticsEventValue] = valueForNumber(value);
  return builder;
}

std::shared_ptr<AnalyticsDictionaryBuilder>
AnalyticsDictionaryBuilder::createExceptionWithDescription(
    const std::optional<std::string>& description, const platform::Value& fatal) {
  AnalyticsUsageTracker::trackAction("createExceptionWithDescription:withFatal:");
  return an_exceptionWithDescription(description, fatal);
}

std::shared_ptr<AnalyticsDictionaryBuilder> AnalyticsDictionaryBuilder::an_exceptionWithDescription(
    const std::optional<std::string>& description, const platform::Value& fatal) {
  auto builder = withHitType(kAnalyticsException);
  builder->_parameters[kAnalyticsExceptionDescription] = valueForString(description);
  builder->_parameters[kAnalyticsExceptionFatal] = valueForNumber(fatal);
  return builder;
}

std::shared_ptr<AnalyticsDictionaryBuilder> AnalyticsDictionaryBuilder::createItemWithTransactionId(
    const std::optional<std::string>& transactionId, const std::optional<std::string>& name,
    const std::optional<std::string>& sku, const std::optional<std::string>& category,
    const platform::Value& price, const platform::Value& quantity,
    const std::optional<std::string>& currencyCode) {
  AnalyticsUsageTracker::trackAction(
      "createItemWithTransactionId:name:sku:category:price:quantity:currencyCode:");
  auto builder = withHitType(kAnalyticsItem);
  auto& p = builder->_parameters;
  p[kAnalyticsTransactionId] = valueForString(transactionId);
  p[kAnalyticsItemName] = valueForString(name);
  p[kAnalyticsItemSku] = valueForString(sku);
  p[kAnalyticsItemCategory] = valueForString(category);
  p[kAnalyticsItemPrice] = valueForNumber(price);
  p[kAnalyticsItemQuantity] = valueForNumber(quantity);
  p[kAnalyticsCurrencyCode] = valueForString(currencyCode);
  return builder;
}

std::shared_ptr<AnalyticsDictionaryBuilder> AnalyticsDictionaryBuilder::createSocialWithNetwork(
    const std::optional<std::string>& network, const std::optional<std::string>& action,
    const std::optional<std::string>& target) {
  AnalyticsUsageTracker::trackAction("createSocialWithNetwork:action:target:");
  auto builder = withHitType(kAnalyticsSocial);
  auto& p = builder->_parameters;
  p[kAnalyticsSocialNetwork] = valueForString(network);
  p[kAnalyticsSocialAction] = valueForString(action);
  p[kAnalyticsSocialTarget] = valueForString(target);
  return builder;
}

std::shared_ptr<AnalyticsDictionaryBuilder> AnalyticsDictionaryBuilder::createTimingWithCategory(
    const std::optional<std::string>& category, const platform::Value& interval,
    const std::optional<std::string>& name, const std::optional<std::string>& label) {
  AnalyticsUsageTracker::trackAction("createTimingWithCategory:interval:name:label:");
  auto builder = withHitType(kAnalyticsTiming);
  auto& p = builder->_parameters;
  p[kAnalyticsTimingCategory] = valueForString(category);
  p[kAnalyticsTimingInterval] = valueForNumber(interval);
  p[kAnalyticsTimingVariable] = valueForString(name);
  p[kAnalyticsTimingLabel] = valueForString(label);
  return builder;
}

std::shared_ptr<AnalyticsDictionaryBuilder> AnalyticsDictionaryBuilder::createTransactionWithId(
    const std::optional<std::string>& transactionId, const std::optional<std::string>& affiliation,
    const platform::Value& revenue, const platform::Value& tax, const platform::Value& shipping,
    const std::optional<std::string>& currencyCode) {
  AnalyticsUsageTracker::trackAction(
      "createTransactionWithId:affiliation:revenue:tax:shipping:currencyCode:");
  auto builder = withHitType(kAnalyticsTransaction);
  auto& p = builder->_parameters;
  p[kAnalyticsTransactionId] = valueForString(transactionId);
  p[kAnalyticsTransactionAffiliation] = valueForString(affiliation);
  p[kAnalyticsTransactionRevenue] = valueForNumber(revenue);
  p[kAnalyticsTransactionTax] = valueForNumber(tax);
  p[kAnalyticsTransactionShipping] = valueForNumber(shipping);
  p[kAnalyticsCurrencyCode] = valueForString(currencyCode);
  return builder;
}
