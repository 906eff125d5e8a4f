#include "webimage/ButtonWebCache.h"

#include "platform/ui/Control.h"

namespace {

const platform::Dictionary& backgroundInfo() {
  static const auto* info = new platform::Dictionary{{"type", platform::Value("background")}};
  return *info;
}

}  // namespace

void ButtonWebCache::setBackgroundImageWithURL(const View& view, const URL& url) {
  setBackgroundImageWithURL(view, url, nullptr, 0u, nullptr, nullptr);
}

void ButtonWebCache::setBackgroundImageWithURL(const View& view, const URL& url,
                                               const Picture& placeholder) {
  setBackgroundImageWithURL(view, url, placeholder, 0u, nullptr, nullptr);
}

void ButtonWebCache::setBackgroundImageWithURL(const View& view, const URL& url,
                                               const Picture& placeholder, unsigned options) {
  setBackgroundImageWithURL(view, url, placeholder, options, nullptr, nullptr);
}

void ButtonWebCache::setBackgroundImageWithURL(const View& view, const URL& url,
                                               SuccessBlock success, FailureBlock failure) {
  setBackgroundImageWithURL(view, url, nullptr, 0u, std::move(success), std::move(failure));
}

void ButtonWebCache::setBackgroundImageWithURL(const View& view, const URL& url,
                                               const Picture& placeholder, SuccessBlock success,
                                               FailureBlock failure) {
  setBackgroundImageWithURL(view, url, placeholder, 0u, std::move(success), std::move(failure));
}

void ButtonWebCache::setBackgroundImageWithURL(const View& view, const URL& url,
                                               const Picture& placeholder, unsigned options,
                                               SuccessBlock success, FailureBlock failure) {
  requesterOf(view)->setImageWithURL(url, placeholder, options, backgroundInfo(),
                                     std::move(success), std::move(failure));
}

void ButtonWebCache::showIn(platform::Button& button, const Picture& picture,
                            const WebCacheRequester::UserInfo& userInfo) {
  const bool background = userInfo == backgroundInfo();
  for (unsigned state : {platform::ControlState::Normal, platform::ControlState::Selected,
                         platform::ControlState::Highlighted}) {
    if (background) {
      button.setBackgroundImage(picture, state);
    } else {
      button.setImage(picture, state);
    }
  }
}
