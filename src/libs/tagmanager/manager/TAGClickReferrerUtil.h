#pragma once
// TAGClickReferrerUtil: the advertising click referrers that arrive in URLs pushed to the data
// layer, kept by conversion id (the referrer's "conv" query parameter) in memory and in the
// property list "ClickReferrer", for the click-referrer macro.
//
// The in-memory cache is process-wide and guarded; it starts absent and is made by the first
// referrer added (from the file, or empty). Each addition writes a snapshot of the whole cache
// to the file in the background. Any thread may call.

#include <map>
#include <optional>
#include <string>

class TAGClickReferrerUtil {
 public:
  TAGClickReferrerUtil() = delete;

  static constexpr const char* kPropertyListName = "ClickReferrer";

  // Stores the referrer under its conversion id (nothing when it has none).
  static void addClickReferrer(const std::string& referrer);
  // The referrer stored for `conversionId`, or one query component of it; nullopt when there is
  // none. An id not in memory is looked up in the file, and remembered (as "" when the file
  // has no entry either) once the cache exists.
  static std::optional<std::string> clickReferrerForConversionId(
      const std::string& conversionId, const std::optional<std::string>& component);
  // The component's value in the referrer's query text, or the referrer itself when no
  // component is asked for and it is not empty.
  static std::optional<std::string> extractComponent(const std::optional<std::string>& component,
                                                     const std::optional<std::string>& referrer);
  // "a=1&b=2" as a map, names and values URL-decoded ("+" stays "+"); a part that is not one
  // name and one value (or does not decode) is logged as a warning and skipped.
  static std::map<std::string, std::string> parseComponentsFromQueryParameters(
      const std::string& query);
  // Drops the in-memory cache.
  static void clearCache();
};
