#include "download/PageReader.h"

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Utf8.h"

std::shared_ptr<PageReader> PageReader::read(const std::string& url, Handler handler) {
  auto reader = std::make_shared<PageReader>();
  reader->_handler = std::move(handler);
  platform::URLRequest request(url);
  request.setHTTPMethod("GET");
  reader->_connection = platform::URLConnection::make(request, reader->weak_from_this());
  reader->_connection->scheduleInRunLoop(platform::RunLoop::main());
  reader->_connection->start();
  return reader;
}

PageReader::~PageReader() {
  if (_connection) _connection->cancel();
}

void PageReader::connectionDidReceiveResponse(platform::URLConnection&,
                                              const platform::URLResponse& response) {
  _status = response.statusCode();
}

void PageReader::connectionDidReceiveData(platform::URLConnection&, const platform::Bytes& data) {
  _body.append(data.begin(), data.end());
}

void PageReader::connectionDidFinishLoading(platform::URLConnection&) {
  // An error page is not the lecture's notes.
  if (_status < 200 || _status >= 300 || !platform::isValidUtf8(_body)) {
    deliver(std::nullopt);
    return;
  }
  deliver(_body);
}

void PageReader::connectionDidFailWithError(platform::URLConnection&, const platform::Error&) {
  deliver(std::nullopt);
}

void PageReader::deliver(const std::optional<std::string>& text) {
  auto handler = std::move(_handler);
  _handler = nullptr;
  if (handler) handler(text);
}
