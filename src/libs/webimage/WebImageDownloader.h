#pragma once
// WebImageDownloader: one HTTP download of one picture over the platform's URL connection
// (15-second idle time-out). It posts the start and stop notifications, reports failures (a
// status of 400 or more fails with that status as the error's code in the URL error domain),
// and hands its delegate the decoded picture when it has the bytes. A progressive downloader
// whose answer announces its length also hands partial pictures while the bytes arrive: the
// rows decoded so far at the top of a transparent bitmap of the picture's full size.
//
// Main thread only (the connection reports on the main run loop). The delegate is not owned;
// the owner keeps the downloader while it runs.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/SharedObject.h"
#include "platform/foundation/Value.h"
#include "platform/net/URLConnection.h"
#include "platform/ui/ImageSource.h"
#include "webimage/WebImageDecoderDelegate.h"
#include "webimage/WebImageDownloaderDelegate.h"

class WebImageDownloader : public platform::URLConnectionDelegate,
                           public WebImageDecoderDelegate,
                           public std::enable_shared_from_this<WebImageDownloader> {
 public:
  static constexpr double kTimeoutInterval = 15.0;

  // A started downloader (started on the main thread, which the caller waits for).
  static std::shared_ptr<WebImageDownloader> downloaderWithURL(
      const std::string& url, std::weak_ptr<WebImageDownloaderDelegate> delegate);
  static std::shared_ptr<WebImageDownloader> downloaderWithURL(
      const std::string& url, std::weak_ptr<WebImageDownloaderDelegate> delegate,
      platform::Value userInfo);
  static std::shared_ptr<WebImageDownloader> downloaderWithURL(
      const std::string& url, std::weak_ptr<WebImageDownloaderDelegate> delegate,
      platform::Value userInfo, bool lowPriority);
  // Kept for callers; downloads are not limited here.
  static void setMaxConcurrentDownloads(unsigned max);

  ~WebImageDownloader() override;

  void start();
  // Stops a running download; the delegate hears nothing more.
  void cancel();

  const std::string& url() const { return _url; }
  std::shared_ptr<WebImageDownloaderDelegate> delegate() const { return _delegate.lock(); }
  const platform::Value& userInfo() const { return _userInfo; }
  // Recorded only: this platform's run loop has no modes that would hold a low-priority
  // download back while the user touches the screen.
  bool lowPriority() const { return _lowPriority; }
  void setLowPriority(bool lowPriority) { _lowPriority = lowPriority; }
  bool progressive() const { return _progressive; }
  void setProgressive(bool progressive) { _progressive = progressive; }
  // The bytes received so far; absent before the answer and after a failure.
  const std::optional<platform::Bytes>& imageData() const { return _imageData; }
  bool isRunning() const { return connection_ != nullptr; }

  void connectionDidReceiveResponse(platform::URLConnection&,
                                    const platform::URLResponse& response) override;
  void connectionDidReceiveData(platform::URLConnection&, const platform::Bytes& data) override;
  void connectionDidFinishLoading(platform::URLConnection&) override;
  void connectionDidFailWithError(platform::URLConnection&, const platform::Error& error) override;
  void imageDecoderDidFinishDecodingImage(WebImageDecoder&,
                                          const std::shared_ptr<platform::Image>& image,
                                          const platform::Value& userInfo) override;

 private:
  WebImageDownloader(std::string url, std::weak_ptr<WebImageDownloaderDelegate> delegate,
                     platform::Value userInfo, bool lowPriority);
  void updatePartialImage();
  void postStop(platform::Value object);

  // Set at construction.
  const std::string _url;
  const std::weak_ptr<WebImageDownloaderDelegate> _delegate;
  const platform::Value _userInfo;

  // Main thread only.
  bool _lowPriority = false;
  bool _progressive = false;
  bool cancelled_ = false;
  std::shared_ptr<platform::URLConnection> connection_;
  std::optional<platform::Bytes> _imageData;
  std::uint64_t expectedSize_ = 0;
  int width_ = 0;
  int height_ = 0;
  std::unique_ptr<platform::ImageSource> imageSource_;
};
