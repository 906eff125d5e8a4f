#pragma once
// The vocabulary of a hit: the field names ("&"-prefixed keys go on the wire without their "&";
// other keys stay inside the SDK), the hit types, and `AnalyticsFields` for the indexed names.
// A hit's parameters map these names to texts, or to null for a value that was not given.

#include <string>

// Field names, in their fixed order.
inline constexpr const char* kAnalyticsHitType = "&t";
inline constexpr const char* kAnalyticsProtocolVersion = "&v";
inline constexpr const char* kAnalyticsTrackingId = "&tid";
inline constexpr const char* kAnalyticsClientId = "&cid";
inline constexpr const char* kAnalyticsSdkVersion = "&_v";
inline constexpr const char* kAnalyticsAnonymizeIp = "&aip";
inline constexpr const char* kAnalyticsSessionControl = "&sc";
inline constexpr const char* kAnalyticsScreenResolution = "&sr";
inline constexpr const char* kAnalyticsLanguage = "&ul";
inline constexpr const char* kAnalyticsScreenName = "&cd";
inline constexpr const char* kAnalyticsAppName = "&an";
inline constexpr const char* kAnalyticsAppVersion = "&av";
inline constexpr const char* kAnalyticsEventCategory = "&ec";
inline constexpr const char* kAnalyticsEventAction = "&ea";
inline constexpr const char* kAnalyticsEventLabel = "&el";
inline constexpr const char* kAnalyticsEventValue = "&ev";
inline constexpr const char* kAnalyticsSocialNetwork = "&sn";
inline constexpr const char* kAnalyticsSocialAction = "&sa";
inline constexpr const char* kAnalyticsSocialTarget = "&st";
inline constexpr const char* kAnalyticsTransactionId = "&ti";
inline constexpr const char* kAnalyticsTransactionAffiliation = "&ta";
inline constexpr const char* kAnalyticsTransactionRevenue = "&tr";
inline constexpr const char* kAnalyticsTransactionShipping = "&ts";
inline constexpr const char* kAnalyticsTransactionTax = "&tt";
inline constexpr const char* kAnalyticsCurrencyCode = "&cu";
inline constexpr const char* kAnalyticsItemPrice = "&ip";
inline constexpr const char* kAnalyticsItemQuantity = "&iq";
inline constexpr const char* kAnalyticsItemSku = "&ic";
inline constexpr const char* kAnalyticsItemName = "&in";
inline constexpr const char* kAnalyticsItemCategory = "&iv";
inline constexpr const char* kAnalyticsCampaignSource = "&cs";
inline constexpr const char* kAnalyticsCampaignMedium = "&cm";
inline constexpr const char* kAnalyticsCampaignName = "&cn";
inline constexpr const char* kAnalyticsCampaignKeyword = "&ck";
inline constexpr const char* kAnalyticsCampaignContent = "&cc";
inline constexpr const char* kAnalyticsCampaignId = "&ci";
inline constexpr const char* kAnalyticsCampaignClickId = "&gclid";
inline constexpr const char* kAnalyticsCampaignDisplayClickId = "&dclid";
inline constexpr const char* kAnalyticsCampaignMobileTag = "&gmob_t";
inline constexpr const char* kAnalyticsTimingCategory = "&utc";
inline constexpr const char* kAnalyticsTimingVariable = "&utv";
inline constexpr const char* kAnalyticsTimingInterval = "&utt";
inline constexpr const char* kAnalyticsTimingLabel = "&utl";
inline constexpr const char* kAnalyticsExceptionDescription = "&exd";
inline constexpr const char* kAnalyticsExceptionFatal = "&exf";
inline constexpr const char* kAnalyticsSampleRate = "&sf";
inline constexpr const char* kAnalyticsQueueTime = "&qt";
inline constexpr const char* kAnalyticsCacheBuster = "&z";
inline constexpr const char* kAnalyticsUsage = "&_u";
inline constexpr const char* kAnalyticsHitTime = "&ht";

// A stored hit's transport: "0" sends it to the plain endpoint.
inline constexpr const char* kAnalyticsUseSecure = "useSecure";

// Hit types.
inline constexpr const char* kAnalyticsAppView = "appview";
inline constexpr const char* kAnalyticsEvent = "event";
inline constexpr const char* kAnalyticsSocial = "social";
inline constexpr const char* kAnalyticsTransaction = "transaction";
inline constexpr const char* kAnalyticsItem = "item";
inline constexpr const char* kAnalyticsException = "exception";
inline constexpr const char* kAnalyticsTiming = "timing";

// The indexed field names; the index is written in decimal, without a range check.
class AnalyticsFields {
 public:
  AnalyticsFields() = delete;

  static std::string contentGroupForIndex(unsigned index);     // "&cg<index>"
  static std::string customDimensionForIndex(unsigned index);  // "&cd<index>"
  static std::string customMetricForIndex(unsigned index);     // "&cm<index>"
};
