#pragma once
// WebView: a view that loads one page at a time, "http" and "https" through the platform URL
// connection and "file" from disk, and keeps what screens read back: the request and the text
// of the page. Its delegate hears that a load started (during `loadRequest`), then, on the main
// run loop, that it finished or failed. A page that answers with an HTTP error status still
// loads (its text is the server's error page), as a browser shows it; only a page that cannot
// be reached or read fails. A new `loadRequest` or `stopLoading` drops the load under way
// without a word to the delegate.
//
// A loaded page is drawn (litehtml lays it out, `HTMLDocumentContainer` draws it with cairo and
// pango) on white, laid out to the view's width. Its stylesheets and pictures are fetched the way
// the page was, after the page has loaded: the delegate hears of the page alone, and the view
// draws the page again with them once all have arrived (`isLoadingResources` says whether any
// is still out). A resource that cannot be had is left out, as a browser leaves it.
//
// The page is parsed and laid out on a serial queue of the worker pool (`WebPageLayout`), never
// on the main thread: a page from outside cannot hold the run loop, whatever it holds. It is
// drawn once its layout is ready, and laid out again when the view's width changes; until then
// the view draws the layout it has (nothing before the first). Pages beyond the bounds of
// `HTMLPageBounds` are drawn cut at the first bound they pass.

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Error.h"
#include "platform/media/WebPageLayout.h"
#include "platform/net/URLRequest.h"
#include "platform/ui/View.h"

namespace platform {

namespace dispatch {
class Queue;
}

class ResourceFetcher;
class WebPageLayout;
class WebView;
struct FetchResult;

class WebViewDelegate {
 public:
  virtual ~WebViewDelegate() = default;
  virtual void webViewDidStartLoad(WebView&) {}
  virtual void webViewDidFinishLoad(WebView&) {}
  virtual void webViewDidFailLoadWithError(WebView&, const Error&) {}
};

class WebView : public View {
  CH_SHARED_OBJECT(WebView)

 public:
  ~WebView() override;

  std::shared_ptr<WebViewDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<WebViewDelegate> delegate) { delegate_ = std::move(delegate); }

  void loadRequest(const URLRequest& request);
  void stopLoading();
  bool isLoading() const { return fetch_ != nullptr; }

  // The request of the last load, absent before the first.
  const std::optional<URLRequest>& request() const { return request_; }
  // The text of the last page that finished loading; empty before one did.
  const std::string& loadedHTML() const { return html_; }
  // The HTTP status of that page (200 for a file).
  int statusCode() const { return statusCode_; }

  // Whether the loaded page is still being completed: its stylesheets or pictures fetched, or
  // the page laid out with them.
  bool isLoadingResources() const { return !resourceFetches_.empty() || layingOut_; }
  // The loaded page's title; empty before one loaded or when it has none.
  std::string pageTitle() const;

  // A page laid out wider than the view (a wide picture, a fixed width) is scaled down to the
  // view's width when set; otherwise it is cut at the view's edge.
  bool scalesPageToFit() const { return scalesPageToFit_; }
  void setScalesPageToFit(bool scales) { scalesPageToFit_ = scales; }

  void drawRect(GraphicsContext& context, const Rect& rect) override;

 protected:
  explicit WebView(const Rect& frame = {});

 private:
  void loadEnded(const FetchResult& result);
  void startLayout();
  void layoutArrived(std::shared_ptr<WebPageLayout> layout);
  void fetchWantedResources();
  void fetchResource(const std::string& url, bool stylesheet);
  void stylesheetArrived(const std::string& url, const FetchResult& result);
  void imageArrived(const std::string& url, const FetchResult& result);
  void resourcesChanged();
  void dropPage();
  int layoutWidth() const;

  // Main thread only (the layouts get copies of what they read).
  std::weak_ptr<WebViewDelegate> delegate_;
  std::optional<URLRequest> request_;
  std::shared_ptr<ResourceFetcher> fetch_;
  std::string html_;
  int statusCode_ = 0;
  bool scalesPageToFit_ = false;

  // The page as laid out last, drawn until a newer layout is ready.
  std::shared_ptr<WebPageLayout> layout_;
  // The page text the layouts read, shared with the layout under way.
  std::shared_ptr<const std::string> pageText_;
  // What was fetched for the page (a failure included, so it is not fetched again).
  WebPageLayout::Resources resources_;
  std::shared_ptr<dispatch::Queue> layoutQueue_;
  // Layouts started for the page; only the newest one's result is taken.
  unsigned long layoutGeneration_ = 0;
  bool layingOut_ = false;
  bool resourcesArrivedMeanwhile_ = false;
  int layingOutWidth_ = 0;
  int parses_ = 0;
  // Resource fetches of the page, by "css " or "img " and URL; each is cancelled with the page.
  std::map<std::string, std::shared_ptr<ResourceFetcher>> resourceFetches_;
};

}  // namespace platform
