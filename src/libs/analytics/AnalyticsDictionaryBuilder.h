#pragma once
// AnalyticsDictionaryBuilder: builds the parameters of one hit. A factory per hit type sets "&t"
// and maps its arguments to their fields; `set` adds more fields; `build` gives the result,
// which a tracker's `send` takes:
//
//   auto hit = AnalyticsDictionaryBuilder::createAppView();
//   tracker->send(hit->set("zada_MyCourse", kAnalyticsScreenName).build());
//
// Values are texts or null: an argument that was not given is stored as null, so every field of
// a factory is always present. Numbers are stored as their text ("5", a boolean as "1" or "0");
// a value given for a number that is not one is stored as null. Each call records its usage code
// (see AnalyticsUsageTracker). One builder per hit; not thread-safe.

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

class AnalyticsDictionaryBuilder {
 public:
  AnalyticsDictionaryBuilder() = default;

  // Absent → null; a text stays a text.
  static platform::Value valueForString(const std::optional<std::string>& value);
  // A number (or boolean) → its text; anything else → null.
  static platform::Value valueForNumber(const platform::Value& value);

  // An absent key is refused with a warning.
  AnalyticsDictionaryBuilder& set(const std::optional<std::string>& value,
                                  const std::optional<std::string>& key);
  // Copies the entries whose values are texts or null; others are skipped with a warning.
  AnalyticsDictionaryBuilder& setAll(const platform::Dictionary& params);
  // The field's text; absent for null or a missing field.
  std::optional<std::string> get(const std::string& key);
  // The builder's own parameters (not a copy).
  const platform::Dictionary& build() const { return _parameters; }
  // The campaign fields of a URL's query ("utm_source" → "&cs", ...); all nine are always set.
  AnalyticsDictionaryBuilder& setCampaignParametersFromUrl(const std::string& urlString);

  static std::shared_ptr<AnalyticsDictionaryBuilder> createAppView();
  static std::shared_ptr<AnalyticsDictionaryBuilder> createEventWithCategory(
      const std::optional<std::string>& category, const std::optional<std::string>& action,
      const std::optional<std::string>& label, const platform::Value& value);
  static std::shared_ptr<AnalyticsDictionaryBuilder> createExceptionWithDescription(
      const std::optional<std::string>& description, const platform::Value& fatal);
  static std::shared_ptr<AnalyticsDictionaryBuilder> createItemWithTransactionId(
      const std::optional<std::string>& transactionId, const std::optional<std::string>& name,
      const std::optional<std::string>& sku, const std::optional<std::string>& category,
      const platform::Value& price, const platform::Value& quantity,
      const std::optional<std::string>& currencyCode);
  static std::shared_ptr<AnalyticsDictionaryBuilder> createSocialWithNetwork(
      const std::optional<std::string>& network, const std::optional<std::string>& action,
      const std::optional<std::string>& target);
  static std::shared_ptr<AnalyticsDictionaryBuilder> createTimingWithCategory(
      const std::optional<std::string>& category, const platform::Value& interval,
      const std::optional<std::string>& name, const std::optional<std::string>& label);
  static std::shared_ptr<AnalyticsDictionaryBuilder> createTransactionWithId(
      const std::optional<std::string>& transactionId,
      const std::optional<std::string>& affiliation, const platform::Value& revenue,
      const platform::Value& tax, const platform::Value& shipping,
      const std::optional<std::string>& currencyCode);
  // The exception factory without its usage code (the uncaught-exception handler's).
  static std::shared_ptr<AnalyticsDictionaryBuilder> an_exceptionWithDescription(
      const std::optional<std::string>& description, const platform::Value& fatal);

  platform::Dictionary& parameters() { return _parameters; }

 private:
  static std::shared_ptr<AnalyticsDictionaryBuilder> withHitType(const char* hitType);

  platform::Dictionary _parameters;
};
