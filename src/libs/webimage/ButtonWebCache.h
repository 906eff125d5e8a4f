#pragma once
// ButtonWebCache: a button shows a picture fetched through the web image cache, in its normal,
// selected and highlighted states: as its image (the setters of WebCacheSetters), or as its
// background image (the `setBackgroundImageWithURL` family, whose requests carry the user
// information {"type": "background"}). A button has one requester, so a new image request
// cancels a background request and the other way round. Nothing in the application calls it.

#include "platform/ui/Button.h"
#include "webimage/WebCacheSetters.h"

class ButtonWebCache : public WebCacheSetters<ButtonWebCache, platform::Button> {
 public:
  static void setBackgroundImageWithURL(const View& view, const URL& url);
  static void setBackgroundImageWithURL(const View& view, const URL& url,
                                        const Picture& placeholder);
  static void setBackgroundImageWithURL(const View& view, const URL& url,
                                        const Picture& placeholder, unsigned options);
  static void setBackgroundImageWithURL(const View& view, const URL& url, SuccessBlock success,
                                        FailureBlock failure);
  static void setBackgroundImageWithURL(const View& view, const URL& url,
                                        const Picture& placeholder, SuccessBlock success,
                                        FailureBlock failure);
  static void setBackgroundImageWithURL(const View& view, const URL& url,
                                        const Picture& placeholder, unsigned options,
                                        SuccessBlock success, FailureBlock failure);

  static void showIn(platform::Button& button, const Picture& picture,
                     const WebCacheRequester::UserInfo& userInfo);
};
