#pragma once
// WebView: a view that loads one page at a time, "http" and "https" through the platform URL
// connection and "file" from disk, and keeps what screens read back: the request and the text
// of the page. Its delegate hears that a load started (during `loadRequest`), then, on the main
// run loop, that it finished or failed. A page that answers with an HTTP error status still
// loads (its text is the server's error page), as a browser shows it; only a page that cannot
// be reached or read fails. A new `loadRequest` or `stopLoading` drops the load under way
// without a word to the delegate. The page is not drawn: the view draws as a plain view.

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Error.h"
#include "platform/net/URLRequest.h"
#include "platform/ui/View.h"

namespace platform {

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

  // Set by the notes screen; kept only, since the page is not drawn.
  bool scalesPageToFit() const { return scalesPageToFit_; }
  void setScalesPageToFit(bool scales) { scalesPageToFit_ = scales; }

 protected:
  explicit WebView(const Rect& frame = {});

 private:
  void loadEnded(const FetchResult& result);

  std::weak_ptr<WebViewDelegate> delegate_;
  std::optional<URLRequest> request_;
  std::shared_ptr<ResourceFetcher> fetch_;
  std::string html_;
  int statusCode_ = 0;
  bool scalesPageToFit_ = false;
};

}  // namespace platform
