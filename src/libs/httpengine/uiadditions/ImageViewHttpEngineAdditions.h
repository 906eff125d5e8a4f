#pragma once
// ImageViewHttpEngineAdditions: shows a picture fetched by a request engine in an image view.
// The view shows the placeholder at once; when the picture arrives it is set (as a cross-dissolve
// of 0.35 s for a fresh download, 0.1 s for one from the cache; the headless layer sets it at
// once and ends the transition on the clock). A picture that does not decode and a failed
// request leave the view as it is.
//
// The view holds its fetch operation (an object associated with it), and a new fetch cancels
// the one before. Without an engine given, the default engine of all image views is used; with
// none at all nothing is asked. Main thread only. Nothing in the application calls it.

#include <memory>
#include <optional>
#include <string>

#include "httpengine/HttpEngine.h"
#include "platform/ui/Image.h"
#include "platform/ui/ImageView.h"

class ImageViewHttpEngineAdditions {
 public:
  static constexpr double kFreshTransitionDuration = 0.35;
  static constexpr double kCachedTransitionDuration = 0.1;

  // The engine of every image view that is given none (process-wide).
  static void setDefaultEngine(std::shared_ptr<HttpEngine> engine);
  static std::shared_ptr<HttpEngine> defaultEngine();

  // Each returns the view's fetch operation afterwards (null when nothing was asked).
  static HttpOperation::Ptr setImageFromURL(const std::shared_ptr<platform::ImageView>& view,
                                            const std::optional<std::string>& url);
  static HttpOperation::Ptr setImageFromURL(const std::shared_ptr<platform::ImageView>& view,
                                            const std::optional<std::string>& url,
                                            std::shared_ptr<platform::Image> placeHolderImage);
  // `animation` is kept for callers; the transition is the same either way.
  static HttpOperation::Ptr setImageFromURL(const std::shared_ptr<platform::ImageView>& view,
                                            const std::optional<std::string>& url,
                                            std::shared_ptr<platform::Image> placeHolderImage,
                                            bool animation);
  static HttpOperation::Ptr setImageFromURL(const std::shared_ptr<platform::ImageView>& view,
                                            const std::optional<std::string>& url,
                                            std::shared_ptr<platform::Image> placeHolderImage,
                                            std::shared_ptr<HttpEngine> usingEngine,
                                            bool animation);

  static HttpOperation::Ptr imageFetchOperation(const platform::ImageView& view);
  static void setImageFetchOperation(platform::ImageView& view, HttpOperation::Ptr operation);
};
