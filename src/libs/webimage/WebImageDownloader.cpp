#include "webimage/WebImageDownloader.h"

#include <cairo.h>

#include <algorithm>

#include "platform/dispatch/Queue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"
#include "webimage/WebImageDecoder.h"
#include "webimage/WebImageNotifications.h"
#include "webimage/WebImageScale.h"

using platform::Bytes;
using platform::Value;

namespace {

// The announced length sizes the first buffer, but a hostile answer must not make it huge.
constexpr std::uint64_t kMaxInitialCapacity = 4u << 20;

const char* const kPartialType = "partial";

// `partial` drawn at the top left of a transparent bitmap of `width` x `height` pixels.
std::shared_ptr<platform::Image> onFullCanvas(const platform::Image& partial, int width, int height,
                                              double scale) {
  cairo_surface_t* canvas = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  if (cairo_surface_status(canvas) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(canvas);
    return nullptr;
  }
  cairo_t* cr = cairo_create(canvas);
  cairo_set_source_surface(cr, partial.surface(), 0, 0);
  cairo_paint(cr);
  cairo_destroy(cr);
  cairo_surface_flush(canvas);
  return std::make_shared<platform::Image>(std::string(), canvas, scale);
}

}  // namespace

std::shared_ptr<WebImageDownloader> WebImageDownloader::downloaderWithURL(
    const std::string& url, std::weak_ptr<WebImageDownloaderDelegate> delegate) {
  return downloaderWithURL(url, std::move(delegate), Value(), false);
}

std::shared_ptr<WebImageDownloader> WebImageDownloader::downloaderWithURL(
    const std::string& url, std::weak_ptr<WebImageDownloaderDelegate> delegate, Value userInfo) {
  return downloaderWithURL(url, std::move(delegate), std::move(userInfo), false);
}

std::shared_ptr<WebImageDownloader> WebImageDownloader::downloaderWithURL(
    const std::string& url, std::weak_ptr<WebImageDownloaderDelegate> delegate, Value userInfo,
    bool lowPriority) {
  std::shared_ptr<WebImageDownloader> downloader(
      new WebImageDownloader(url, std::move(delegate), std::move(userInfo), lowPriority));
  if (platform::RunLoop::isMainThread()) {
    downloader->start();
  } else {
    platform::dispatch::Queue::main()->sync([&] { downloader->start(); });
  }
  return downloader;
}

void WebImageDownloader::setMaxConcurrentDownloads(unsigned) {}

WebImageDownloader::WebImageDownloader(std::string url,
                                       std::weak_ptr<WebImageDownloaderDelegate> delegate,
                                       Value userInfo, bool lowPriority)
    : _url(std::move(url)),
      _delegate(std::move(delegate)),
      _userInfo(std::move(userInfo)),
      _lowPriority(lowPriority) {}

WebImageDownloader::~WebImageDownloader() {
  if (connection_) connection_->cancel();
}

void WebImageDownloader::start() {
  platform::assertMainThread("WebImageDownloader::start");
  if (_url.empty()) {
    if (auto delegate = _delegate.lock()) delegate->imageDownloaderDidFailWithError(*this, {});
    return;
  }
  platform::URLRequest request(_url);
  request.setTimeoutInterval(kTimeoutInterval);
  connection_ = platform::URLConnection::make(std::move(request), weak_from_this());
  connection_->scheduleInRunLoop(platform::RunLoop::main());
  connection_->start();
  platform::NotificationCenter::defaultCenter().post(kWebImageDownloadStartNotification,
                                                     Value::object(shared_from_this()));
}

void WebImageDownloader::cancel() {
  platform::assertMainThread("WebImageDownloader::cancel");
  if (!connection_) return;
  connection_->cancel();
  connection_.reset();
  cancelled_ = true;
  postStop(Value::object(shared_from_this()));
}

void WebImageDownloader::postStop(Value object) {
  platform::NotificationCenter::defaultCenter().post(kWebImageDownloadStopNotification,
                                                     std::move(object));
}

void WebImageDownloader::connectionDidReceiveResponse(platform::URLConnection&,
                                                      const platform::URLResponse& response) {
  if (response.statusCode() >= 400) {
    auto self = shared_from_this();
    if (connection_) connection_->cancel();
    postStop(Value());
    if (auto delegate = _delegate.lock())
      delegate->imageDownloaderDidFailWithError(
          *this, platform::Error(platform::kURLErrorDomain, response.statusCode()));
    connection_.reset();
    _imageData.reset();
    return;
  }
  std::int64_t announced = response.expectedContentLength();
  expectedSize_ = announced > 0 ? static_cast<std::uint64_t>(announced) : 0;
  _imageData = Bytes();
  _imageData->reserve(std::min(expectedSize_, kMaxInitialCapacity));
}

void WebImageDownloader::connectionDidReceiveData(platform::URLConnection&, const Bytes& data) {
  if (!_imageData) _imageData = Bytes();
  _imageData->insert(_imageData->end(), data.begin(), data.end());
  auto delegate = _delegate.lock();
  if (_progressive && expectedSize_ > 0 && delegate && delegate->takesPartialImages())
    updatePartialImage();
}

void WebImageDownloader::updatePartialImage() {
  if (!imageSource_) imageSource_ = std::make_unique<platform::ImageSource>();
  const std::uint64_t received = _imageData->size();
  imageSource_->updateData(*_imageData, received == expectedSize_);
  if (width_ == 0 || height_ == 0) {
    width_ = imageSource_->pixelWidth();
    height_ = imageSource_->pixelHeight();
  }
  if (width_ <= 0 || height_ <= 0 || received >= expectedSize_) return;
  auto rows = imageSource_->imageAtIndex(0);
  if (!rows) return;
  auto partial = onFullCanvas(*rows, width_, height_, WebImageScale::scaleForName(_url));
  if (!partial) return;
  WebImageDecoder::sharedImageDecoder()->decodeImage(
      partial, shared_from_this(), Value(platform::Dictionary{{"type", Value(kPartialType)}}));
}

void WebImageDownloader::connectionDidFinishLoading(platform::URLConnection&) {
  auto self = shared_from_this();
  connection_.reset();
  postStop(Value());
  auto delegate = _delegate.lock();
  if (!delegate) return;
  delegate->imageDownloaderDidFinish(*this);
  if (!delegate->takesFinishedImages()) return;
  auto image = WebImageScale::imageWithData(_imageData.value_or(Bytes()), _url);
  WebImageDecoder::sharedImageDecoder()->decodeImage(image, self, Value());
}

void WebImageDownloader::connectionDidFailWithError(platform::URLConnection&,
                                                    const platform::Error& error) {
  auto self = shared_from_this();
  postStop(Value());
  if (auto delegate = _delegate.lock()) delegate->imageDownloaderDidFailWithError(*this, error);
  connection_.reset();
  _imageData.reset();
}

void WebImageDownloader::imageDecoderDidFinishDecodingImage(
    WebImageDecoder&, const std::shared_ptr<platform::Image>& image, const Value& userInfo) {
  if (cancelled_) return;
  auto delegate = _delegate.lock();
  if (!delegate) return;
  const platform::Dictionary* info = userInfo.asDictionary();
  auto type = info ? info->find("type") : platform::Dictionary::const_iterator();
  if (info && type != info->end() && type->second == Value(kPartialType)) {
    delegate->imageDownloaderDidUpdatePartialImage(*this, image);
    return;
  }
  delegate->imageDownloaderDidFinishWithImage(*this, image);
}
