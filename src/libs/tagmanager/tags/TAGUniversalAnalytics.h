#pragma once
// TAGUniversalAnalytics ("_ua"): sends analytics hits through a short-lived tracker named
// "__TM_DEFAULT_TRACKER__" (made for each evaluation and removed after it). A tag with
// "analytics_pass_through" sends its "analytics_fields" as one hit; one with "track_transaction"
// sends a transaction hit and then one item hit per entry of the data layer's
// "transactionProducts", the fields taken from the data layer through the tag's field maps (or
// the default ones). "&aip" is dropped from the fields when its value is "", "0" or "false" in
// any case. A transaction that cannot be sent whole (no "transactionId", a product without
// "name", malformed "transactionProducts") sends nothing and logs why. The first evaluation
// installs a logger that writes analytics messages through the tag manager's log.
//
// Any thread may evaluate.

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "analytics/AnalyticsLogger.h"
#include "analytics/AnalyticsTracker.h"
#include "platform/foundation/Mutex.h"
#include "platform/foundation/Value.h"
#include "tagmanager/manager/TAGDataLayer.h"
#include "tagmanager/tags/TAGTrackingTag.h"

class TAGUniversalAnalytics : public TAGTrackingTag {
 public:
  using FieldMap = std::map<std::string, std::string>;

  static const char* functionId() { return "_ua"; }

  explicit TAGUniversalAnalytics(std::shared_ptr<TAGDataLayer> dataLayer);

  void evaluateTrackingTag(const TAGPropertyMap& tag) override;

  static bool checkBooleanPropertyForTag(const TAGPropertyMap& tag, const std::string& key);
  std::optional<std::string> dataLayerString(const std::string& key) const;
  // Keys and values converted to strings pair by pair; none for a value that is not a map.
  static std::optional<FieldMap> valueToStringMap(const TAGPValue::Ref& value);
  platform::Dictionary trackerFieldsWithAnalyticsFields(const TAGPValue::Ref& value) const;
  static std::shared_ptr<AnalyticsTracker> openTracker();
  static void closeTracker(const std::shared_ptr<AnalyticsTracker>& tracker);
  void setLoggerIfNecessary() EXCLUDES(mutex_);
  FieldMap transactionFieldsForTag(const TAGPropertyMap& tag) const;
  FieldMap transactionItemFieldsForTag(const TAGPropertyMap& tag) const;
  // The data layer's "transactionProducts"; raises "IllegalArgumentException" when it is not a
  // list of dictionaries.
  std::vector<platform::Dictionary> transactionsItems() const;
  static void addParam(const std::string& key, const std::optional<platform::Value>& value,
                       platform::Dictionary& params);
  void sendTransaction(const TAGPropertyMap& tag, const std::shared_ptr<AnalyticsTracker>& tracker);

  const std::set<std::string>& turnOffAnonymizeIpValues() const {
    return _turnOffAnonymizeIpValues;
  }
  static const FieldMap& defaultTransactionMap();
  static const FieldMap& defaultItemMap();
  std::shared_ptr<AnalyticsLogger> logger() const EXCLUDES(mutex_);

 private:
  const std::shared_ptr<TAGDataLayer> _dataLayer;
  const std::set<std::string> _turnOffAnonymizeIpValues{"", "0", "false"};
  mutable platform::Mutex mutex_;
  std::shared_ptr<AnalyticsLogger> _logger GUARDED_BY(mutex_);
};
