#include "webimage/WebCacheRequester.h"

#include "platform/foundation/Thread.h"

std::shared_ptr<WebCacheRequester> WebCacheRequester::of(
    const std::shared_ptr<platform::View>& view, const void* key, const Show& show) {
  platform::assertMainThread("WebCacheRequester::of");
  auto requester = std::static_pointer_cast<WebCacheRequester>(view->associatedObject(key));
  if (!requester) {
    requester.reset(new WebCacheRequester(show));
    view->setAssociatedObject(key, requester);
  }
  return requester;
}

void WebCacheRequester::setImageWithURL(const std::optional<std::string>& url,
                                        const std::shared_ptr<platform::Image>& placeholder,
                                        unsigned options, const UserInfo& userInfo,
                                        WebImageManager::SuccessBlock success,
                                        WebImageManager::FailureBlock failure) {
  auto manager = WebImageManager::sharedManager();
  manager->cancelForDelegate(this);
  show_(placeholder, userInfo);
  if (!url) return;
  manager->downloadWithURL(url, shared_from_this(), options, userInfo, std::move(success),
                           std::move(failure));
}

void WebCacheRequester::cancelCurrentImageLoad() {
  WebImageManager::sharedManager()->cancelForDelegate(this);
}

void WebCacheRequester::webImageManagerDidFinishWithImageForURLUserInfo(WebImageManager&,
                                                                        const Image& image,
                                                                        const std::string&,
                                                                        const UserInfo& userInfo) {
  show_(image, userInfo);
}

void WebCacheRequester::webImageManagerDidProgressWithPartialImageForURLUserInfo(
    WebImageManager&, const Image& image, const std::string&, const UserInfo& userInfo) {
  show_(image, userInfo);
}
