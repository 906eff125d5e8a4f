#include "download/PageReader.h"

#include "platform/foundation/RunLoop.h"

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

bool PageReader::isValidUTF8(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size()) {
    auto byte = static_cast<unsigned char>(text[i]);
    std::size_t length = byte < 0x80           ? 1
                         : (byte >> 5) == 0x6  ? 2
                         : (byte >> 4) == 0xE  ? 3
                         : (byte >> 3) == 0x1E ? 4
                                               : 0;
    if (length == 0 || i + length > text.size()) return false;
    char32_t c = length == 1 ? byte : byte & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      c = (c << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values beyond Unicode are not UTF-8.
    static const char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kMinimum[length] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return false;
    i += length;
  }
  return true;
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
  if (_status < 200 || _status >= 300 || !isValidUTF8(_body)) {
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
