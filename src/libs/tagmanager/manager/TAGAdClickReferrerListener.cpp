#include "tagmanager/manager/TAGAdClickReferrerListener.h"

#include <cctype>
#include <optional>
#include <string>

#include "tagmanager/manager/TAGClickReferrerUtil.h"

namespace {

// Characters a URL may hold as they are: unreserved, reserved, and "%" of an escape.
bool isUrlCharacter(unsigned char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  static const std::string kOthers = "-._~:/?#[]@!$&'()*+,;=%";
  return kOthers.find(static_cast<char>(c)) != std::string::npos;
}

// The query of a URL (after the first "?", up to a "#"); nullopt when the text is not a URL (it
// holds a character a URL cannot hold, or a "%" that does not start an escape) or has no query.
std::optional<std::string> queryOf(const std::string& url) {
  for (std::size_t i = 0; i < url.size(); ++i) {
    auto c = static_cast<unsigned char>(url[i]);
    if (!isUrlCharacter(c)) return std::nullopt;
    if (c == '%' &&
        (i + 2 >= url.size() || !std::isxdigit(static_cast<unsigned char>(url[i + 1])) ||
         !std::isxdigit(static_cast<unsigned char>(url[i + 2])))) {
      return std::nullopt;
    }
  }
  std::size_t fragment = url.find('#');
  std::size_t question = url.find('?');
  if (question == std::string::npos || (fragment != std::string::npos && question > fragment)) {
    return std::nullopt;
  }
  std::size_t start = question + 1;
  return url.substr(start, fragment == std::string::npos ? std::string::npos : fragment - start);
}

}  // namespace

void TAGAdClickReferrerListener::changed(const platform::Dictionary& update) {
  const platform::Value* url = platform::find(update, "tm.url");
  if (!url) {
    const platform::Value* tm = platform::find(update, "tm");
    if (!tm || !tm->asDictionary()) return;
    url = platform::find(*tm->asDictionary(), "url");
    if (!url) return;
  }
  if (!url->asText()) return;
  std::optional<std::string> query = queryOf(*url->asText());
  if (!query) return;
  auto parameters = TAGClickReferrerUtil::parseComponentsFromQueryParameters(*query);
  auto referrer = parameters.find("referrer");
  if (referrer != parameters.end()) TAGClickReferrerUtil::addClickReferrer(referrer->second);
}
