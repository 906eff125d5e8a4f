#include "httpengine/uiadditions/ImageViewHttpEngineAdditions.h"

#include "httpengine/uiadditions/HttpEngineImageAdditions.h"
#include "platform/foundation/Mutex.h"
#include "platform/foundation/Thread.h"

namespace {

// The key of the fetch operation among the view's associated objects.
const char kImageFetchOperationKey = 0;

struct DefaultEngine {
  platform::Mutex mutex;
  std::shared_ptr<HttpEngine> engine GUARDED_BY(mutex);
};

DefaultEngine& defaultEngineSlot() {
  static auto* slot = new DefaultEngine();
  return *slot;
}

}  // namespace

void ImageViewHttpEngineAdditions::setDefaultEngine(std::shared_ptr<HttpEngine> engine) {
  DefaultEngine& slot = defaultEngineSlot();
  platform::MutexLock lock(slot.mutex);
  slot.engine = std::move(engine);
}

std::shared_ptr<HttpEngine> ImageViewHttpEngineAdditions::defaultEngine() {
  DefaultEngine& slot = defaultEngineSlot();
  platform::MutexLock lock(slot.mutex);
  return slot.engine;
}

HttpOperation::Ptr ImageViewHttpEngineAdditions::setImageFromURL(
    const std::shared_ptr<platform::ImageView>& view, const std::optional<std::string>& url) {
  return setImageFromURL(view, url, nullptr);
}

HttpOperation::Ptr ImageViewHttpEngineAdditions::setImageFromURL(
    const std::shared_ptr<platform::ImageView>& view, const std::optional<std::string>& url,
    std::shared_ptr<platform::Image> placeHolderImage) {
  return setImageFromURL(view, url, std::move(placeHolderImage), nullptr, false);
}

HttpOperation::Ptr ImageViewHttpEngineAdditions::setImageFromURL(
    const std::shared_ptr<platform::ImageView>& view, const std::optional<std::string>& url,
    std::shared_ptr<platform::Image> placeHolderImage, bool animation) {
  return setImageFromURL(view, url, std::move(placeHolderImage), nullptr, animation);
}

HttpOperation::Ptr ImageViewHttpEngineAdditions::setImageFromURL(
    const std::shared_ptr<platform::ImageView>& view, const std::optional<std::string>& url,
    std::shared_ptr<platform::Image> placeHolderImage, std::shared_ptr<HttpEngine> usingEngine,
    bool /*animation*/) {
  platform::assertMainThread("ImageViewHttpEngineAdditions::setImageFromURL");
  if (placeHolderImage) view->setImage(std::move(placeHolderImage));
  auto current = imageFetchOperation(*view);
  if (current) current->cancel();
  auto engine = usingEngine ? usingEngine : defaultEngine();
  if (!engine) return current;
  // The view is held weakly: a view that goes before its picture arrives is not kept for it.
  std::weak_ptr<platform::ImageView> weakView = view;
  auto operation = HttpEngineImageAdditions::imageAtURL(
      *engine, url, view->frame().size,
      [weakView](const std::shared_ptr<platform::Image>& image, const std::string&, bool cached) {
        auto shown = weakView.lock();
        if (!shown || !image) return;
        platform::View::animate(cached ? kCachedTransitionDuration : kFreshTransitionDuration,
                                [shown, image] { shown->setImage(image); });
      },
      nullptr);
  setImageFetchOperation(*view, operation);
  return operation;
}

HttpOperation::Ptr ImageViewHttpEngineAdditions::imageFetchOperation(
    const platform::ImageView& view) {
  return std::static_pointer_cast<HttpOperation>(view.associatedObject(&kImageFetchOperationKey));
}

void ImageViewHttpEngineAdditions::setImageFetchOperation(platform::ImageView& view,
                                                          HttpOperation::Ptr operation) {
  view.setAssociatedObject(&kImageFetchOperationKey, std::move(operation));
}
