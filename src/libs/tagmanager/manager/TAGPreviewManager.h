#pragma once
// TAGPreviewManager: the process-wide record of container preview. A preview link switches one
// container to the preview version of its content: while previewing, that container is fetched
// with the link's own query ("/r?" + query) and its saved copy is neither read nor written; a
// matching end link stops the preview (the id is kept).
//
// Links are matched as whole texts: "tagmanager.c.<scheme>://preview/p?id=...&tm_auth=...&
// tm_preview=<digits>" starts a preview, "...://preview/p?id=...&tm_preview=" ends it. The dots
// after "tagmanager" and "c" stand for any character, as the links were always matched.
//
// Any thread may call; the state is guarded by the manager's own lock.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Mutex.h"

class TAGPreviewManager {
 public:
  static TAGPreviewManager& instance();

  TAGPreviewManager(const TAGPreviewManager&) = delete;
  TAGPreviewManager& operator=(const TAGPreviewManager&) = delete;

  // True when `url` (an absolute URL text, absent = nil) was a preview link and the state
  // changed accordingly.
  bool generatePreviewDataForUrl(const std::optional<std::string>& url) EXCLUDES(mutex_);
  bool isPreviewingContainer(const std::string& containerId) const EXCLUDES(mutex_);
  // The value of the query's first parameter ("id=ABC&..." gives "ABC"); empty when the first
  // piece holds no "=".
  static std::string containerIdForQuery(const std::string& query);
  void clear() EXCLUDES(mutex_);

  std::optional<std::string> containerId() const EXCLUDES(mutex_);
  // "/r?" + the start link's query while previewing; absent otherwise.
  std::optional<std::string> ctfeUrlPath() const EXCLUDES(mutex_);
  std::int32_t previewMode() const { return _previewMode.load(); }

 private:
  TAGPreviewManager() = default;

  mutable platform::Mutex mutex_;
  std::optional<std::string> _containerId GUARDED_BY(mutex_);
  std::optional<std::string> _ctfeUrlPath GUARDED_BY(mutex_);
  std::atomic<std::int32_t> _previewMode{0};
};
