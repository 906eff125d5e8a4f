#pragma once
// TAGHit: one stored pixel hit as the store hands it out: the URL to fetch, when it was stored,
// when a send of it first failed (absent until then) and a retry count nothing uses. `objectId`
// is the store's row id (never reused). A plain value.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

struct TAGHit {
  std::int64_t objectId = 0;
  std::string dispatchURL;
  platform::Date timestamp;
  std::optional<platform::Date> dispatchTime;
  std::optional<std::int16_t> retryCount;
};
