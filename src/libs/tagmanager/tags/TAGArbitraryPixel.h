#pragma once
// TAGArbitraryPixel ("_img"): builds a pixel URL from the tag's "url" and optional
// "additional_params" (a list of maps, each name and value percent-encoded and joined with "="
// and "&" after "?" or, when the URL already has a query, "&") and hands it to the hit sender
// (the pixel dispatcher). With an "unrepeatable" id a pixel goes out once per installation: the
// ids sent are kept in one process-wide set and in the property list "tm_img_unrepeatable" in
// the Documents folder, which is looked at when the set does not know an id.
//
// Any thread may evaluate. Checking an id, sending and recording it happen under one
// process-wide lock, so two pixel tags evaluating one id at once send it once.

#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Mutex.h"
#include "tagmanager/pixel/TAGHitSender.h"
#include "tagmanager/tags/TAGTrackingTag.h"
#include "tagmanager/values/TAGObject.h"

class TAGArbitraryPixel : public TAGTrackingTag {
 public:
  static const char* functionId() { return "_img"; }
  static const char* urlKey() { return "url"; }

  // `hitSender` null: the process's pixel dispatcher.
  explicit TAGArbitraryPixel(std::shared_ptr<TAGHitSender> hitSender = nullptr);

  void evaluateTrackingTag(const TAGPropertyMap& properties) override;

  // Appends "name=value" for each entry of `dictionary`, both percent-encoded.
  static void addDictionary(const TAGObject::Map& dictionary, std::vector<std::string>& array);
  static std::string getQueryParametersStringFromArray(const std::vector<std::string>& array);
  std::shared_ptr<TAGHitSender> getHitSender() const;

  static bool idProcessed(const std::string& id);
  static bool idInCache(const std::string& id);
  static bool idInPlist(const std::string& id);
  static void cacheUnrepeatableId(const std::string& id);
  static void clearCache();

 private:
  const std::shared_ptr<TAGHitSender> hitSender_;
};
