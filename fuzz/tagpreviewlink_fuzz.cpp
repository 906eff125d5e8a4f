// A link opened in the application, as the tag manager's preview hook takes it: any text. A
// start link must leave a preview of the id its query names, fetched by "/r?" and that query; an
// end link or any other text must leave no preview path behind; nothing may throw or stall.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tagmanager/base/TAGLog.h"
#include "tagmanager/manager/TAGManager.h"
#include "tagmanager/manager/TAGPreviewManager.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TAGLog::setLogger(nullptr);
  static std::shared_ptr<TAGManager> manager = TAGManager::initWithSameInstance(false);
  std::string link(reinterpret_cast<const char*>(data), size);
  auto& preview = TAGPreviewManager::instance();
  preview.clear();

  bool acted = manager->previewWithUrl(link);
  auto path = preview.ctfeUrlPath();
  if (preview.previewMode() == 1) {
    if (!acted || !path || path->rfind("/r?", 0) != 0) std::abort();
    auto id = preview.containerId();
    if (!id || *id != TAGPreviewManager::containerIdForQuery(path->substr(3))) std::abort();
    if (!preview.isPreviewingContainer(*id)) std::abort();
  } else if (path) {
    std::abort();
  }
  (void)TAGPreviewManager::containerIdForQuery(link);
  return 0;
}
