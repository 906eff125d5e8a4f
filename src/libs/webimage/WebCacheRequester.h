#pragma once
// WebCacheRequester: stands for one view before the image manager, for the picture extensions
// of image views, buttons and map markers. It lives as long as its view (kept on the view as an
// associated object) and holds the view weakly; whatever arrives for it (partial pictures and
// the final one) goes to the view through its `show` function, with the request's user
// information, so one requester can serve a button's image and its background.
//
// Main thread only.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/ui/Image.h"
#include "platform/ui/View.h"
#include "webimage/WebImageManager.h"
#include "webimage/WebImageManagerDelegate.h"

class WebCacheRequester : public WebImageManagerDelegate,
                          public std::enable_shared_from_this<WebCacheRequester> {
 public:
  using Show = std::function<void(const std::shared_ptr<platform::Image>&, const UserInfo&)>;

  // The requester kept on `view` under `key`, made (with `show`) on first use.
  static std::shared_ptr<WebCacheRequester> of(const std::shared_ptr<platform::View>& view,
                                               const void* key, const Show& show);

  // The extensions' one algorithm: cancel what this view asked before, show the placeholder at
  // once (also when there is none), and ask for the URL when there is one.
  void setImageWithURL(const std::optional<std::string>& url,
                       const std::shared_ptr<platform::Image>& placeholder, unsigned options,
                       const UserInfo& userInfo, WebImageManager::SuccessBlock success,
                       WebImageManager::FailureBlock failure);
  void cancelCurrentImageLoad();

  void webImageManagerDidFinishWithImageForURLUserInfo(WebImageManager&, const Image& image,
                                                       const std::string&,
                                                       const UserInfo& userInfo) override;
  void webImageManagerDidProgressWithPartialImageForURLUserInfo(WebImageManager&,
                                                                const Image& image,
                                                                const std::string&,
                                                                const UserInfo& userInfo) override;

 private:
  explicit WebCacheRequester(Show show) : show_(std::move(show)) {}

  const Show show_;
};
