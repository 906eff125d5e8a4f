#include "httpserver/core/HTTPAuthenticationRequest.h"

#include <strings.h>

#include "httpserver/core/HTTPMessage.h"

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool hasPrefixIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

struct Parameter {
  std::string raw;    // as written (a quoted string keeps its quotes)
  std::string value;  // quotes removed, escapes resolved
  bool quoted = false;
};

// Finds `param` in a header's parameter list (after the scheme word, or the whole text when it
// has none). Absent when it is missing or the list does not parse up to it.
std::optional<Parameter> findParameter(std::string_view param, std::string_view header) {
  std::size_t i = 0;
  // Skip the scheme word: the text up to the first blank, when no "=" comes before it.
  std::size_t blank = header.find_first_of(" \t");
  if (blank != std::string_view::npos && header.substr(0, blank).find('=') == std::string::npos)
    i = blank;
  while (i < header.size()) {
    while (i < header.size() && (isBlank(header[i]) || header[i] == ',')) ++i;
    if (i >= header.size()) break;
    std::size_t nameStart = i;
    while (i < header.size() && header[i] != '=' && header[i] != ',' && !isBlank(header[i])) ++i;
    std::string_view name = header.substr(nameStart, i - nameStart);
    while (i < header.size() && isBlank(header[i])) ++i;
    if (i >= header.size() || header[i] != '=') return std::nullopt;
    ++i;
    while (i < header.size() && isBlank(header[i])) ++i;
    Parameter parameter;
    std::size_t valueStart = i;
    if (i < header.size() && header[i] == '"') {
      parameter.quoted = true;
      ++i;
      bool closed = false;
      while (i < header.size()) {
        char c = header[i++];
        if (c == '\\' && i < header.size()) {
          parameter.value += header[i++];
        } else if (c == '"') {
          closed = true;
          break;
        } else {
          parameter.value += c;
        }
      }
      if (!closed) return std::nullopt;
    } else {
      while (i < header.size() && header[i] != ',' && !isBlank(header[i])) ++i;
      parameter.value = std::string(header.substr(valueStart, i - valueStart));
    }
    parameter.raw = std::string(header.substr(valueStart, i - valueStart));
    if (name.size() == param.size() && strncasecmp(name.data(), param.data(), name.size()) == 0)
      return parameter;
    while (i < header.size() && isBlank(header[i])) ++i;
    if (i < header.size() && header[i] != ',') return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> HTTPAuthenticationRequest::quotedSubHeaderFieldValue(
    std::string_view param, std::string_view header) {
  std::optional<Parameter> parameter = findParameter(param, header);
  if (!parameter || !parameter->quoted) return std::nullopt;
  return parameter->value;
}

std::optional<std::string> HTTPAuthenticationRequest::nonquotedSubHeaderFieldValue(
    std::string_view param, std::string_view header) {
  std::optional<Parameter> parameter = findParameter(param, header);
  if (!parameter) return std::nullopt;
  return parameter->raw;
}

HTTPAuthenticationRequest::HTTPAuthenticationRequest(const HTTPMessage& request) {
  std::optional<std::string> header = request.headerField("Authorization");
  if (!header) return;
  _isBasic = header->size() > 5 && hasPrefixIgnoringCase(*header, "Basic ");
  _isDigest = header->size() > 6 && hasPrefixIgnoringCase(*header, "Digest ");
  if (_isBasic) {
    _base64Credentials = std::string(trimmed(std::string_view(*header).substr(6)));
    return;
  }
  if (!_isDigest) return;
  _username = quotedSubHeaderFieldValue("username", *header);
  _realm = quotedSubHeaderFieldValue("realm", *header);
  _nonce = quotedSubHeaderFieldValue("nonce", *header);
  _uri = quotedSubHeaderFieldValue("uri", *header);
  _qop = nonquotedSubHeaderFieldValue("qop", *header);
  if (_qop && !_qop->empty() && _qop->front() == '"')
    _qop = quotedSubHeaderFieldValue("qop", *header);
  _nc = nonquotedSubHeaderFieldValue("nc", *header);
  _cnonce = quotedSubHeaderFieldValue("cnonce", *header);
  _response = quotedSubHeaderFieldValue("response", *header);
}
