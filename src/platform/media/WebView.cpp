#include "platform/media/WebView.h"

#include <cairo.h>
#include <litehtml/litehtml.h>

#include <cmath>

#include "platform/foundation/Thread.h"
#include "platform/media/HTMLDocumentContainer.h"
#include "platform/media/ResourceFetcher.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Image.h"

namespace platform {

namespace {

// The browser's own defaults for the elements pages use, beneath every page's stylesheets.
constexpr const char* kDefaultStyle = R"(
html, address, blockquote, body, dd, div, dl, dt, fieldset, form, frame, frameset, h1, h2, h3,
h4, h5, h6, noframes, ol, p, ul, center, dir, hr, menu, pre, header, footer, section, article,
nav, aside, figure, figcaption, main { display: block; }
head, script, style, title, link, meta, noscript, template { display: none; }
html { background-color: white; color: black; }
body { margin: 8px; line-height: normal; }
p, blockquote, ul, ol, dl, figure, pre { margin-top: 1em; margin-bottom: 1em; }
h1 { font-size: 2em; margin: 0.67em 0; font-weight: bold; }
h2 { font-size: 1.5em; margin: 0.83em 0; font-weight: bold; }
h3 { font-size: 1.17em; margin: 1em 0; font-weight: bold; }
h4 { margin: 1.33em 0; font-weight: bold; }
h5 { font-size: 0.83em; margin: 1.67em 0; font-weight: bold; }
h6 { font-size: 0.67em; margin: 2.33em 0; font-weight: bold; }
b, strong, th { font-weight: bold; }
i, em, cite, var, address { font-style: italic; }
pre, code, kbd, samp, tt { font-family: monospace; }
pre { white-space: pre; }
u, ins { text-decoration: underline; }
s, strike, del { text-decoration: line-through; }
small { font-size: 0.83em; }
big { font-size: 1.17em; }
sub { vertical-align: sub; font-size: 0.83em; }
sup { vertical-align: super; font-size: 0.83em; }
a:link, a { color: #0000ee; text-decoration: underline; }
center { text-align: center; }
img { display: inline-block; }
br { display: block; }
hr { border: 1px inset #808080; margin: 0.5em auto; }
ul, ol, menu, dir { padding-left: 40px; }
ul { list-style-type: disc; }
ol { list-style-type: decimal; }
li { display: list-item; }
ul ul { list-style-type: circle; }
blockquote { margin-left: 40px; margin-right: 40px; }
table { display: table; border-spacing: 2px; }
thead { display: table-header-group; }
tbody { display: table-row-group; }
tfoot { display: table-footer-group; }
tr { display: table-row; }
td, th { display: table-cell; padding: 1px; }
caption { display: table-caption; text-align: center; }
)";

// How many times a page is parsed as its resources (and the sheets those import) arrive: a
// chain of imports beyond this is left out rather than followed round after round.
constexpr int kMaxParses = 4;

bool isSuccess(int status) { return status >= 200 && status <= 299; }

}  // namespace

WebView::WebView(const Rect& frame) : View(frame) {}

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

std::string WebView::pageTitle() const { return container_ ? container_->caption() : ""; }

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
  container_ = std::make_unique<HTMLDocumentContainer>(request_->url());
  buildDocument();
  if (d) d->webViewDidFinishLoad(*this);
}

void WebView::dropPage() {
  for (auto& [key, fetch] : resourceFetches_) fetch->cancel();
  resourceFetches_.clear();
  // The document hands its fonts back to the container as it ends: it goes first.
  document_.reset();
  container_.reset();
  parses_ = 0;
  setNeedsDisplay();
}

void WebView::buildDocument() {
  if (!styleContext_) {
    styleContext_ = std::make_unique<litehtml::context>();
    styleContext_->load_master_stylesheet(kDefaultStyle);
  }
  document_.reset();
  ++parses_;
  document_ =
      litehtml::document::createFromUTF8(html_.c_str(), container_.get(), styleContext_.get());
  laidOutSize_ = {};
  fetchWantedResources();
  setNeedsDisplay();
}

void WebView::fetchWantedResources() {
  for (const auto& url : container_->takeWantedStylesheets()) fetchResource(url, true);
  for (const auto& url : container_->takeWantedImages()) fetchResource(url, false);
}

void WebView::fetchResource(const std::string& url, bool stylesheet) {
  std::string key = (stylesheet ? "css " : "img ") + url;
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
  container_->setStylesheet(
      url, usable ? std::string(result.body.begin(), result.body.end()) : std::string());
  resourcesChanged();
}

void WebView::imageArrived(const std::string& url, const FetchResult& result) {
  resourceFetches_.erase("img " + url);
  std::shared_ptr<Image> image;
  if (!result.error && isSuccess(result.statusCode)) image = Image::imageWithData(result.body);
  container_->setImage(url, std::move(image));
  resourcesChanged();
}

void WebView::resourcesChanged() {
  // litehtml takes styles and picture sizes in while it parses: once every resource asked for
  // is in, the page is parsed again with them.
  if (resourceFetches_.empty() && parses_ < kMaxParses) buildDocument();
}

void WebView::layOut(int width, int height) {
  Size size{static_cast<double>(width), static_cast<double>(height)};
  if (laidOutSize_ == size) return;
  container_->setViewportSize(width, height);
  document_->media_changed();
  document_->render(width);
  laidOutSize_ = size;
}

void WebView::drawRect(GraphicsContext& context, const Rect& rect) {
  View::drawRect(context, rect);
  if (!document_) return;
  Rect b = bounds();
  int width = static_cast<int>(std::floor(b.width()));
  int height = static_cast<int>(std::floor(b.height()));
  if (width <= 0 || height <= 0) return;
  layOut(width, height);
  context.setFillColor(Color::whiteColor());
  context.fillRect(b);
  double scale = 1;
  if (scalesPageToFit_ && document_->width() > width) scale = double(width) / document_->width();
  cairo_t* cr = context.cairo();
  cairo_save(cr);
  context.clipToRect(b);
  cairo_translate(cr, b.x(), b.y());
  cairo_scale(cr, scale, scale);
  litehtml::position clip(0, 0, static_cast<int>(std::ceil(width / scale)),
                          static_cast<int>(std::ceil(height / scale)));
  document_->draw(reinterpret_cast<litehtml::uint_ptr>(cr), 0, 0, &clip);
  cairo_restore(cr);
}

}  // namespace platform
