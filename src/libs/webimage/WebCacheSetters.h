#pragma once
// WebCacheSetters: the family of six setters that the picture extensions of views share, for a
// view class `ViewT`. The extension `Derived` says where a picture goes (`showIn`). Each setter
// cancels what the view asked before, shows the placeholder at once (also when there is none)
// and, when there is a URL, asks the shared image manager for it. Missing arguments mean no
// placeholder and options 0. Main thread only.

#include <memory>
#include <optional>
#include <string>

#include "webimage/WebCacheRequester.h"
#include "webimage/WebImageManager.h"

template <class Derived, class ViewT>
class WebCacheSetters {
 public:
  using SuccessBlock = WebImageManager::SuccessBlock;
  using FailureBlock = WebImageManager::FailureBlock;
  using View = std::shared_ptr<ViewT>;
  using Picture = std::shared_ptr<platform::Image>;
  using URL = std::optional<std::string>;

  static void setImageWithURL(const View& view, const URL& url) {
    setImageWithURL(view, url, nullptr, 0u, nullptr, nullptr);
  }
  static void setImageWithURL(const View& view, const URL& url, const Picture& placeholder) {
    setImageWithURL(view, url, placeholder, 0u, nullptr, nullptr);
  }
  static void setImageWithURL(const View& view, const URL& url, const Picture& placeholder,
                              unsigned options) {
    setImageWithURL(view, url, placeholder, options, nullptr, nullptr);
  }
  static void setImageWithURL(const View& view, const URL& url, SuccessBlock success,
                              FailureBlock failure) {
    setImageWithURL(view, url, nullptr, 0u, std::move(success), std::move(failure));
  }
  static void setImageWithURL(const View& view, const URL& url, const Picture& placeholder,
                              SuccessBlock success, FailureBlock failure) {
    setImageWithURL(view, url, placeholder, 0u, std::move(success), std::move(failure));
  }
  static void setImageWithURL(const View& view, const URL& url, const Picture& placeholder,
                              unsigned options, SuccessBlock success, FailureBlock failure) {
    requesterOf(view)->setImageWithURL(url, placeholder, options, std::nullopt, std::move(success),
                                       std::move(failure));
  }

  // Cancels every request of the view.
  static void cancelCurrentImageLoad(const View& view) {
    requesterOf(view)->cancelCurrentImageLoad();
  }

 protected:
  static std::shared_ptr<WebCacheRequester> requesterOf(const View& view) {
    static const char key = 0;
    std::weak_ptr<ViewT> weak = view;
    return WebCacheRequester::of(
        view, &key, [weak](const Picture& picture, const WebCacheRequester::UserInfo& userInfo) {
          if (auto shown = weak.lock()) Derived::showIn(*shown, picture, userInfo);
        });
  }
};
