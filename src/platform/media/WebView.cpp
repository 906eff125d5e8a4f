#include "platform/media/WebView.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/dispatch/Queue.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"
#include "platform/media/ResourceFetcher.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Image.h"

namespace platform {

namespace {

// How many times a page is parsed as its resources (and the sheets those import) arrive: a
// chain of imports beyond this is left out rather than followed round after round.
constexpr int kMaxParses = 4;

bool isSuccess(int status) { return status >= 200 && status <= 299; }

}  // namespace

WebView::WebView(const Rect& frame)
    : View(frame), layoutQueue_(dispatch::Queue::serial("web page layout")) {}

WebView::~WebView() {
  if (fetch_) fetch_->cancel();
  dropPage();
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
  for (auto& [key, fetch] : resourceFetches_) fetch->cancel();
  resourceFetches_.clear();
}

std::string WebView::pageTitle() const { return layout_ ? layout_->title() : ""; }

void WebView::loadEnded(const FetchResult& result) {
  fetch_.reset();
  auto d = delegate();
  if (result.error) {
    if (d) d->webViewDidFailLoadWithError(*this, *result.error);
    return;
  }
  html_.assign(result.body.begin(), result.body.end());
  statusCode_ = result.statusCode;
  dropPage();
  pageText_ = std::make_shared<const std::string>(html_);
  ++parses_;
  startLayout();
  if (d) d->webViewDidFinishLoad(*this);
}

void WebView::dropPage() {
  for (auto& [key, fetch] : resourceFetches_) fetch->cancel();
  resourceFetches_.clear();
  layout_.reset();
  pageText_.reset();
  resources_ = {};
  ++layoutGeneration_;
  layingOut_ = false;
  resourcesArrivedMeanwhile_ = false;
  parses_ = 0;
  setNeedsDisplay();
}

int WebView::layoutWidth() const {
  return std::max(1, static_cast<int>(std::floor(bounds().width())));
}

void WebView::startLayout() {
  // Here on the main thread, so that the process's exit cannot come during the first layout's
  // set-up and still miss it.
  WebPageLayout::prepareForExit();
  unsigned long generation = ++layoutGeneration_;
  layingOut_ = true;
  layingOutWidth_ = layoutWidth();
  int height = std::max(1, static_cast<int>(std::floor(bounds().height())));
  std::weak_ptr<Responder> weak = weak_from_this();
  layoutQueue_->async([weak, generation, text = pageText_, url = request_->url(),
                       resources = resources_, width = layingOutWidth_, height] {
    std::shared_ptr<WebPageLayout> layout =
        WebPageLayout::layOut(*text, url, resources, width, height);
    RunLoop::main()->perform([weak, generation, layout = std::move(layout)]() mutable {
      auto view = std::static_pointer_cast<WebView>(weak.lock());
      if (!view || generation != view->layoutGeneration_) return;
      view->layoutArrived(std::move(layout));
    });
  });
}

void WebView::layoutArrived(std::shared_ptr<WebPageLayout> layout) {
  layingOut_ = false;
  layout_ = std::move(layout);
  fetchWantedResources();
  setNeedsDisplay();
  if (std::exchange(resourcesArrivedMeanwhile_, false)) resourcesChanged();
}

void WebView::fetchWantedResources() {
  for (const auto& url : layout_->wantedStylesheets()) {
    if (!resources_.stylesheets.count(url)) fetchResource(url, true);
  }
  for (const auto& url : layout_->wantedImages()) {
    if (!resources_.images.count(url)) fetchResource(url, false);
  }
}

void WebView::fetchResource(const std::string& url, bool stylesheet) {
  std::string key = (stylesheet ? "css " : "img ") + url;
  if (resourceFetches_.count(key)) return;
  // Cancelled with the page (and so with this view), after which nothing is reported.
  resourceFetches_[key] =
      ResourceFetcher::start(URLRequest(url), true, [this, url, stylesheet](const FetchResult& r) {
        if (stylesheet) {
          stylesheetArrived(url, r);
        } else {
          imageArrived(url, r);
        }
      });
}

void WebView::stylesheetArrived(const std::string& url, const FetchResult& result) {
  resourceFetches_.erase("css " + url);
  bool usable = !result.error && isSuccess(result.statusCode);
  resources_.stylesheets[url] =
      usable ? std::string(result.body.begin(), result.body.end()) : std::string();
  resourcesChanged();
}

void WebView::imageArrived(const std::string& url, const FetchResult& result) {
  resourceFetches_.erase("img " + url);
  std::shared_ptr<Image> image;
  if (!result.error && isSuccess(result.statusCode)) image = Image::imageWithData(result.body);
  resources_.images[url] = std::move(image);
  resourcesChanged();
}

void WebView::resourcesChanged() {
  if (layingOut_) {
    resourcesArrivedMeanwhile_ = true;
    return;
  }
  // litehtml takes styles and picture sizes in while it parses: once every resource asked for
  // is in, the page is parsed again with them.
  if (resourceFetches_.empty() && parses_ < kMaxParses) {
    ++parses_;
    startLayout();
  }
}

void WebView::drawRect(GraphicsContext& context, const Rect& rect) {
  View::drawRect(context, rect);
  if (!pageText_) return;
  Rect b = bounds();
  int width = static_cast<int>(std::floor(b.width()));
  int height = static_cast<int>(std::floor(b.height()));
  if (width <= 0 || height <= 0) return;
  // A view drawn at another width than its page was laid out for lays the page out again, and
  // draws the layout it has meanwhile.
  int laidOut = layingOut_ ? layingOutWidth_ : layout_ ? layout_->viewportWidth() : 0;
  if (laidOut != width) startLayout();
  if (!layout_) return;
  context.setFillColor(Color::whiteColor());
  context.fillRect(b);
  double scale = 1;
  if (scalesPageToFit_ && layout_->pageWidth() > width)
    scale = double(width) / layout_->pageWidth();
  cairo_t* cr = context.cairo();
  cairo_save(cr);
  context.clipToRect(b);
  cairo_translate(cr, b.x(), b.y());
  cairo_scale(cr, scale, scale);
  layout_->draw(cr, static_cast<int>(std::ceil(width / scale)),
                static_cast<int>(std::ceil(height / scale)));
  cairo_restore(cr);
}

}  // namespace platform
