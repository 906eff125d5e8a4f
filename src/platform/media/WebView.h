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

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Error.h"
#include "platform/net/URLRequest.h"
#include "platform/ui/View.h"

namespace litehtml {
class context;
class document;
}  // namespace litehtml

namespace platform {

class HTMLDocumentContainer;
class ResourceFetcher;
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

  // Whether stylesheets or pictures of the loaded page are still being fetched.
  bool isLoadingResources() const { return !resourceFetches_.empty(); }
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
  void buildDocument();
  void fetchWantedResources();
  void fetchResource(const std::string& url, bool stylesheet);
  void stylesheetArrived(const std::string& url, const FetchResult& result);
  void imageArrived(const std::string& url, const FetchResult& result);
  void resourcesChanged();
  void dropPage();
  void layOut(int width, int height);

  std::weak_ptr<WebViewDelegate> delegate_;
  std::optional<URLRequest> request_;
  std::shared_ptr<ResourceFetcher> fetch_;
  std::string html_;
  int statusCode_ = 0;
  bool scalesPageToFit_ = false;

  // The page drawn: the document lays out against the container, which it uses until its end.
  std::unique_ptr<litehtml::context> styleContext_;
  std::unique_ptr<HTMLDocumentContainer> container_;
  std::shared_ptr<litehtml::document> document_;
  Size laidOutSize_;
  int parses_ = 0;
  // Resource fetches of the page, by "css " or "img " and URL; each is cancelled with the page.
  std::map<std::string, std::shared_ptr<ResourceFetcher>> resourceFetches_;
};

}  // namespace platform
