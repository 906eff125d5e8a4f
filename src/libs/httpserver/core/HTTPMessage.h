#pragma once
// HTTPMessage: one HTTP/1.x message, request or response. A connection feeds a request into it
// line by line until its head is complete, then asks for method, target, version and headers;
// a response is built in it and serialised to bytes for the socket.
//
// The head parser is strict, since its input comes straight off the network: a request line is
// a method token, a target of visible ASCII and a version "HTTP/<digits>.<digits>", separated by
// single spaces; a header line is a token name, a colon and a value of visible text, spaces and
// tabs (white space around the value is dropped); every line ends in CR LF. Anything else (a
// bare CR or LF, a control byte, a folded line, white space before the colon, a second
// "Content-Length") makes `appendData` answer false, and so does every later append. Bytes that
// follow the blank line ending the head are the body.
//
// Header names keep the case they were given in; lookups ignore case. Setting a header that is
// present replaces its value. A value type, used on one thread at a time.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class HTTPMessage {
 public:
  // An empty request, ready for `appendData`.
  HTTPMessage();
  // A request with its request line set (head complete, no headers yet).
  HTTPMessage(std::string method, std::string url, std::string version);
  // A response; without a description the standard reason phrase of the status code is used.
  HTTPMessage(int statusCode, std::optional<std::string> description, std::string version);

  // Appends raw bytes to a request being parsed; false when they cannot be parsed. Once the head
  // is complete the bytes go to the body.
  bool appendData(std::string_view data);
  bool isHeaderComplete() const { return state_ == State::Complete; }

  bool isRequest() const { return isRequest_; }
  // Empty until known.
  const std::string& version() const { return _version; }
  const std::string& method() const { return _method; }
  // The request target as sent (path and query); absent for a response or an incomplete head.
  std::optional<std::string> url() const;
  // 0 for a request.
  int statusCode() const { return _statusCode; }

  // Name as given -> value.
  std::map<std::string, std::string> allHeaderFields() const;
  // The value of the header named `name` without regard to case; absent when there is none.
  std::optional<std::string> headerField(std::string_view name) const;
  void setHeaderField(std::string name, std::string value);

  // Status or request line, each header as "name: value", CR LF after each line, an empty line,
  // then the body.
  std::string messageData() const;

  const std::string& body() const { return _body; }
  void setBody(std::string body) { _body = std::move(body); }

  // The standard reason phrase of `statusCode` (RFC 7231 wording), empty for a code it lacks.
  static std::string reasonPhrase(int statusCode);

 private:
  enum class State { RequestLine, Headers, Complete, Invalid };

  bool parseLine(std::string_view line);
  bool parseRequestLine(std::string_view line);
  bool parseHeaderLine(std::string_view line);

  bool isRequest_ = true;
  State state_ = State::RequestLine;
  std::string pending_;  // bytes of a head line not ended yet
  std::string _method;
  std::string _url;
  std::string _version;
  int _statusCode = 0;
  std::string statusDescription_;
  std::vector<std::pair<std::string, std::string>> headers_;
  std::string _body;
};
