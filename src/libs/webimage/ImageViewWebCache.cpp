#include "webimage/ImageViewWebCache.h"

void ImageViewWebCache::showIn(platform::ImageView& view, const Picture& picture,
                               const WebCacheRequester::UserInfo&) {
  view.setImage(picture);
  view.setNeedsLayout();
}
