#include "httpserver/core/HTTPMessage.h"

#include <strings.h>

#include <cstring>

namespace {

bool isTokenChar(unsigned char c) {
  if (c >= '0' && c <= '9') return true;
  if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') return true;
  return c != 0 && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool isToken(std::string_view text) {
  if (text.empty()) return false;
  for (unsigned char c : text)
    if (!isTokenChar(c)) return false;
  return true;
}

bool isDigits(std::string_view text) {
  if (text.empty()) return false;
  for (unsigned char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

// "HTTP/" digits "." digits.
bool isVersion(std::string_view text) {
  if (text.substr(0, 5) != "HTTP/") return false;
  std::string_view numbers = text.substr(5);
  std::size_t dot = numbers.find('.');
  return dot != std::string_view::npos && isDigits(numbers.substr(0, dot)) &&
         isDigits(numbers.substr(dot + 1));
}

bool isTarget(std::string_view text) {
  if (text.empty()) return false;
  for (unsigned char c : text)
    if (c <= 0x20 || c >= 0x7f) return false;
  return true;
}

// Visible text, spaces, tabs and bytes of other encodings; no control bytes.
bool isFieldValue(std::string_view text) {
  for (unsigned char c : text)
    if ((c < 0x20 && c != '\t') || c == 0x7f) return false;
  return true;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool sameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

HTTPMessage::HTTPMessage() = default;

HTTPMessage::HTTPMessage(std::string method, std::string url, std::string version)
    : state_(State::Complete),
      _method(std::move(method)),
      _url(std::move(url)),
      _version(std::move(version)) {}

HTTPMessage::HTTPMessage(int statusCode, std::optional<std::string> description,
                         std::string version)
    : isRequest_(false),
      state_(State::Complete),
      _version(std::move(version)),
      _statusCode(statusCode),
      statusDescription_(description ? std::move(*description) : reasonPhrase(statusCode)) {}

bool HTTPMessage::appendData(std::string_view data) {
  if (state_ == State::Invalid) return false;
  if (state_ == State::Complete) {
    _body.append(data);
    return true;
  }
  pending_.append(data);
  std::size_t start = 0;
  while (state_ != State::Complete) {
    std::size_t lf = pending_.find('\n', start);
    if (lf == std::string::npos) break;
    if (lf == start || pending_[lf - 1] != '\r' ||
        !parseLine({pending_.data() + start, lf - 1 - start})) {
      state_ = State::Invalid;
      pending_.clear();
      return false;
    }
    start = lf + 1;
  }
  if (state_ == State::Complete) {
    _body.append(pending_, start);
    pending_.clear();
  } else {
    pending_.erase(0, start);
    // A CR may only start the line's ending; a line whose CR is not yet followed by its LF
    // waits for the next bytes.
    std::size_t cr = pending_.find('\r');
    if (cr != std::string::npos && cr + 1 != pending_.size()) {
      state_ = State::Invalid;
      pending_.clear();
      return false;
    }
  }
  return true;
}

bool HTTPMessage::parseLine(std::string_view line) {
  if (line.find('\r') != std::string_view::npos) return false;
  if (state_ == State::RequestLine) return parseRequestLine(line);
  if (line.empty()) {
    state_ = State::Complete;
    return true;
  }
  return parseHeaderLine(line);
}

bool HTTPMessage::parseRequestLine(std::string_view line) {
  std::size_t first = line.find(' ');
  if (first == std::string_view::npos) return false;
  std::size_t second = line.find(' ', first + 1);
  if (second == std::string_view::npos) return false;
  std::string_view method = line.substr(0, first);
  std::string_view target = line.substr(first + 1, second - first - 1);
  std::string_view version = line.substr(second + 1);
  if (!isToken(method) || !isTarget(target) || !isVersion(version)) return false;
  _method = method;
  _url = target;
  _version = version;
  state_ = State::Headers;
  return true;
}

bool HTTPMessage::parseHeaderLine(std::string_view line) {
  std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return false;
  std::string_view name = line.substr(0, colon);
  std::string_view value = line.substr(colon + 1);
  if (!isToken(name) || !isFieldValue(value)) return false;
  value = trimmed(value);
  for (auto& [existingName, existingValue] : headers_) {
    if (!sameName(existingName, name)) continue;
    // Two lengths cannot both be believed; other repeated fields form one list, in which empty
    // elements count for nothing.
    if (sameName(name, "Content-Length")) return false;
    if (existingValue.empty()) {
      existingValue = value;
    } else if (!value.empty()) {
      existingValue.append(", ").append(value);
    }
    return true;
  }
  headers_.emplace_back(name, value);
  return true;
}

std::optional<std::string> HTTPMessage::url() const {
  if (!isRequest_ || state_ != State::Complete) return std::nullopt;
  return _url;
}

std::map<std::string, std::string> HTTPMessage::allHeaderFields() const {
  return {headers_.begin(), headers_.end()};
}

std::optional<std::string> HTTPMessage::headerField(std::string_view name) const {
  for (const auto& [headerName, value] : headers_)
    if (sameName(headerName, name)) return value;
  return std::nullopt;
}

void HTTPMessage::setHeaderField(std::string name, std::string value) {
  for (auto& [headerName, headerValue] : headers_) {
    if (sameName(headerName, name)) {
      headerValue = std::move(value);
      return;
    }
  }
  headers_.emplace_back(std::move(name), std::move(value));
}

std::string HTTPMessage::messageData() const {
  std::string out;
  std::size_t size = 64 + _body.size();
  for (const auto& [name, value] : headers_) size += name.size() + value.size() + 4;
  out.reserve(size);
  if (isRequest_) {
    out.append(_method).append(" ").append(_url).append(" ").append(_version);
  } else {
    out.append(_version).append(" ").append(std::to_string(_statusCode)).append(" ");
    out.append(statusDescription_);
  }
  out.append("\r\n");
  for (const auto& [name, value] : headers_)
    out.append(name).append(": ").append(value).append("\r\n");
  out.append("\r\n");
  out.append(_body);
  return out;
}

std::string HTTPMessage::reasonPhrase(int statusCode) {
  switch (statusCode) {
    case 100:
      return "Continue";
    case 101:
      return "Switching Protocols";
    case 200:
      return "OK";
    case 201:
      return "Created";
    case 202:
      return "Accepted";
    case 203:
      return "Non-Authoritative Information";
    case 204:
      return "No Content";
    case 205:
      return "Reset Content";
    case 206:
      return "Partial Content";
    case 207:
      return "Multi-Status";
    case 300:
      return "Multiple Choices";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 303:
      return "See Other";
    case 304:
      return "Not Modified";
    case 305:
      return "Use Proxy";
    case 307:
      return "Temporary Redirect";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 402:
      return "Payment Required";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 406:
      return "Not Acceptable";
    case 407:
      return "Proxy Authentication Required";
    case 408:
      return "Request Timeout";
    case 409:
      return "Conflict";
    case 410:
      return "Gone";
    case 411:
      return "Length Required";
    case 412:
      return "Precondition Failed";
    case 413:
      return "Payload Too Large";
    case 414:
      return "URI Too Long";
    case 415:
      return "Unsupported Media Type";
    case 416:
      return "Range Not Satisfiable";
    case 417:
      return "Expectation Failed";
    case 423:
      return "Locked";
    case 426:
      return "Upgrade Required";
    case 500:
      return "Internal Server Error";
    case 501:
      return "Not Implemented";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    case 504:
      return "Gateway Timeout";
    case 505:
      return "HTTP Version Not Supported";
    default:
      return "";
  }
}
