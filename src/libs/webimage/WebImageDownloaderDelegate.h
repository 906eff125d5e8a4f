#pragma once
// What an image download tells its delegate (on the main thread). A delegate says which
// pictures it takes, so a downloader builds partial or final pictures only for one that does.

#include <memory>

#include "platform/foundation/Error.h"
#include "platform/ui/Image.h"

class WebImageDownloader;

class WebImageDownloaderDelegate {
 public:
  virtual ~WebImageDownloaderDelegate() = default;
  virtual bool takesPartialImages() const { return false; }
  virtual bool takesFinishedImages() const { return false; }

  virtual void imageDownloaderDidFinish(WebImageDownloader&) {}
  virtual void imageDownloaderDidUpdatePartialImage(WebImageDownloader&,
                                                    const std::shared_ptr<platform::Image>&) {}
  // The picture of all the bytes; null when they do not decode.
  virtual void imageDownloaderDidFinishWithImage(WebImageDownloader&,
                                                 const std::shared_ptr<platform::Image>&) {}
  // Absent error: no connection could be made.
  virtual void imageDownloaderDidFailWithError(WebImageDownloader&,
                                               const std::optional<platform::Error>&) {}
};
