#include "platform/media/WebView.h"

#include "platform/foundation/Thread.h"
#include "platform/media/ResourceFetcher.h"

namespace platform {

WebView::WebView(const Rect& frame) : View(frame) {}

WebView::~WebView() {
  if (fetch_) fetch_->cancel();
}

void WebView::loadRequest(const URLRequest& request) {
  assertMainThread("WebView::loadRequest");
  stopLoading();
  request_ = request;
  // The fetcher belongs to this view and reports nothing once cancelled, which the destructor
  // does, so the completion never outlives the view.
  fetch_ = ResourceFetcher::start(request, true, [this](const FetchResult& r) { loadEnded(r); });
  if (auto d = delegate()) d->webViewDidStartLoad(*this);
}

void WebView::stopLoading() {
  assertMainThread("WebView::stopLoading");
  if (fetch_) fetch_->cancel();
  fetch_.reset();
}

void WebView::loadEnded(const FetchResult& result) {
  fetch_.reset();
  auto d = delegate();
  if (result.error) {
    if (d) d->webViewDidFailLoadWithError(*this, *result.error);
    return;
  }
  html_.assign(result.body.begin(), result.body.end());
  statusCode_ = result.statusCode;
  if (d) d->webViewDidFinishLoad(*this);
}

}  // namespace platform
