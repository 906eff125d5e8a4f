#include "download/PageReader.h"

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Utf8.h"

PageReader::PageReader(Handler handler) : handler_(std::move(handler)) {}

std::shared_ptr<PageReader> PageReader::read(const std::string& url, Handler handler) {
  std::shared_ptr<PageReader> reader(new PageReader(std::move(handler)));
  platform::URLRequest request(url);
  request.setHTTPMethod("GET");
  reader->connection_ = platform::URLConnection::make(request, reader->weak_from_this());
  reader->connection_->scheduleInRunLoop(platform::RunLoop::main());
  reader->connection_->start();
  return reader;
}

PageReader::~PageReader() {
  if (connection_) connection_->cancel();
}

void PageReader::connectionDidReceiveResponse(platform::URLConnection&,
                                              const platform::URLResponse& response) {
  status_ = response.statusCode();
}

void PageReader::connectionDidReceiveData(platform::URLConnection&, const platform::Bytes& data) {
  body_.append(data.begin(), data.end());
}

void PageReader::connectionDidFinishLoading(platform::URLConnection&) {
  // An error page is not the lecture's notes.
  if (status_ < 200 || status_ >= 300 || !platform::isValidUtf8(body_)) {
    deliver(std::nullopt);
    return;
  }
  deliver(body_);
}

void PageReader::connectionDidFailWithError(platform::URLConnection&, const platform::Error&) {
  deliver(std::nullopt);
}

void PageReader::deliver(const std::optional<std::string>& text) {
  auto handler = std::move(handler_);
  handler_ = nullptr;
  if (handler) handler(text);
}
