#pragma once
// ImageViewWebCache: an image view shows a picture fetched through the web image cache; the
// placeholder, each partial picture and the final one become its image, and it is laid out again
// after each. The setters are those of WebCacheSetters. Nothing in the application calls it.

#include "platform/ui/ImageView.h"
#include "webimage/WebCacheSetters.h"

class ImageViewWebCache : public WebCacheSetters<ImageViewWebCache, platform::ImageView> {
 public:
  static void showIn(platform::ImageView& view, const Picture& picture,
                     const WebCacheRequester::UserInfo& userInfo);
};
