#pragma once
// PageReader: reads one web page as UTF-8 text without blocking: a plain GET whose answer
// arrives on the main run loop. The page is "unreadable" (absent) when the transfer fails, the
// status is not 2xx, or the body is not valid UTF-8. Destroying the reader cancels the read; its
// callback then never runs.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/net/URLConnection.h"

class PageReader : public platform::URLConnectionDelegate,
                   public std::enable_shared_from_this<PageReader> {
 public:
  using Handler = std::function<void(const std::optional<std::string>& text)>;

  // Starts reading `url`; `handler` runs once, on the main thread.
  static std::shared_ptr<PageReader> read(const std::string& url, Handler handler);
  ~PageReader() override;

  void connectionDidReceiveResponse(platform::URLConnection&,
                                    const platform::URLResponse& response) override;
  void connectionDidReceiveData(platform::URLConnection&, const platform::Bytes& data) override;
  void connectionDidFinishLoading(platform::URLConnection&) override;
  void connectionDidFailWithError(platform::URLConnection&, const platform::Error&) override;

 private:
  explicit PageReader(Handler handler);
  void deliver(const std::optional<std::string>& text);

  // Main thread only (the connection delivers on the main run loop).
  Handler handler_;
  std::shared_ptr<platform::URLConnection> connection_;
  int status_ = 0;
  std::string body_;
};
