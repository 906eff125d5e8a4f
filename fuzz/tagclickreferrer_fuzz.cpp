// A URL pushed to the data layer with a click referrer, and the referrer texts themselves: the
// referrer listener reads the URL's query, the referrer's components are parsed, and the stored
// referrer is looked up by its conversion id as the click-referrer macro does. Any text; nothing
// may throw, and a referrer kept under an id must come back for it.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ScratchHome.h"
#include "tagmanager/base/TAGLog.h"
#include "tagmanager/base/TAGPropertyListUtil.h"
#include "tagmanager/manager/TAGAdClickReferrerListener.h"
#include "tagmanager/manager/TAGClickReferrerUtil.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ScratchHome home("click-referrer-fuzz");
  TAGLog::setLogger(nullptr);
  std::string text(reinterpret_cast<const char*>(data), size);
  // Each input starts from no kept referrers, so what one input stored cannot pile up.
  TAGClickReferrerUtil::clearCache();
  TAGPropertyListUtil::removePropertyList(TAGClickReferrerUtil::kPropertyListName);

  TAGAdClickReferrerListener listener;
  listener.changed({{"tm.url", platform::Value(text)}});
  listener.changed({{"tm", platform::Value(platform::Dictionary{{"url", platform::Value(text)}})}});

  auto components = TAGClickReferrerUtil::parseComponentsFromQueryParameters(text);
  TAGClickReferrerUtil::addClickReferrer(text);
  auto conversion = TAGClickReferrerUtil::extractComponent("conv", text);
  if (conversion && !conversion->empty()) {
    auto kept = TAGClickReferrerUtil::clickReferrerForConversionId(*conversion, std::nullopt);
    if (kept != text) std::abort();
    for (const auto& [name, value] : components) {
      if (TAGClickReferrerUtil::clickReferrerForConversionId(*conversion, name) != value) {
        std::abort();
      }
    }
  }
  return 0;
}
