#pragma once
// AnnotationViewWebCache: a map marker shows a picture fetched through the web image cache; the
// placeholder and the pictures become its image (no new layout). The setters are those of
// WebCacheSetters. Nothing in the application calls it.

#include "platform/ui/AnnotationView.h"
#include "webimage/WebCacheSetters.h"

class AnnotationViewWebCache
    : public WebCacheSetters<AnnotationViewWebCache, platform::AnnotationView> {
 public:
  static void showIn(platform::AnnotationView& view, const Picture& picture,
                     const WebCacheRequester::UserInfo& userInfo);
};
