#include "webimage/AnnotationViewWebCache.h"

void AnnotationViewWebCache::showIn(platform::AnnotationView& view, const Picture& picture,
                                    const WebCacheRequester::UserInfo&) {
  view.setImage(picture);
}
