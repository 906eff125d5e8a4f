#include "httpserver/core/MultipartMessageHeaderField.h"

#include "httpserver/core/HTTPLogging.h"
#include "platform/foundation/Utf8.h"

namespace {

constexpr int kLogLevel = kHTTPConnectionLogLevel;

// White space, the CR LF of a folded line included.
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string asASCII(std::string_view bytes) {
  std::string text;
  for (char c : bytes) text += static_cast<unsigned char>(c) < 0x80 ? c : '?';
  return text;
}

// A parameter value as written: quotes removed (a lone quote is the empty value), decoded,
// backslash escapes resolved. Absent for nothing at all or bytes that do not decode.
std::optional<std::string> readParamValue(std::string_view bytes, unsigned encoding) {
  if (bytes.empty()) return std::nullopt;
  if (bytes.front() == '"') bytes = bytes.size() >= 2 ? bytes.substr(1, bytes.size() - 2) : "";
  std::optional<std::string> text = decodeMultipartText(bytes, encoding);
  if (!text) return std::nullopt;
  std::string value;
  for (std::size_t i = 0; i < text->size(); ++i) {
    if ((*text)[i] == '\\' && i + 1 < text->size()) ++i;
    value += (*text)[i];
  }
  return value;
}

}  // namespace

namespace {

void logComplaint(const MultipartMessageHeaderField::Complaint& complaint) {
  if (complaint.error) {
    HTTP_LOG_ERROR(kLogLevel, "%s", complaint.text.c_str());
  } else {
    HTTP_LOG_WARN(kLogLevel, "%s", complaint.text.c_str());
  }
}

}  // namespace

std::optional<std::string> decodeMultipartText(std::string_view bytes, unsigned encoding) {
  switch (encoding) {
    case kMultipartASCIIEncoding:
      for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80) return std::nullopt;
      return std::string(bytes);
    case kMultipartISOLatin1Encoding: {
      std::string text;
      for (char c : bytes) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
          text += c;
        } else {
          text += static_cast<char>(0xC0 | (byte >> 6));
          text += static_cast<char>(0x80 | (byte & 0x3F));
        }
      }
      return text;
    }
    default:
      if (!platform::isValidUtf8(bytes)) return std::nullopt;
      return std::string(bytes);
  }
}

std::optional<MultipartMessageHeaderField> MultipartMessageHeaderField::initWithData(
    std::string_view data, unsigned encoding) {
  std::vector<Complaint> complaints;
  std::optional<MultipartMessageHeaderField> field = initWithData(data, encoding, &complaints);
  for (const Complaint& complaint : complaints) logComplaint(complaint);
  return field;
}

std::optional<MultipartMessageHeaderField> MultipartMessageHeaderField::initWithData(
    std::string_view data, unsigned encoding, std::vector<Complaint>* complaints) {
  auto fail = [&](std::string text) {
    complaints->push_back({true, std::move(text)});
    return std::nullopt;
  };
  std::size_t colon = data.find(':');
  if (colon == std::string_view::npos || colon + 2 >= data.size())
    return fail("MultipartFormDataParser: Bad format.No colon in field header.");
  MultipartMessageHeaderField field;
  std::optional<std::string> name =
      decodeMultipartText(data.substr(0, colon), kMultipartASCIIEncoding);
  if (!name) return fail("MultipartFormDataParser: Bad MIME header name.");
  field._name = *name;

  std::size_t start = colon + 1;
  while (start < data.size() && isBlank(data[start])) ++start;
  std::string_view text = data.substr(start);
  std::size_t semicolon = text.find(';');
  std::optional<std::string> value = decodeMultipartText(text.substr(0, semicolon), encoding);
  if (!value)
    return fail("MultipartFormDataParser: Bad MIME header value for header name: '" + field._name +
                "'");
  field._value = *value;
  if (semicolon == std::string_view::npos) return field;

  std::string_view params = text.substr(semicolon + 1);
  while (!params.empty() && isBlank(params.front())) params.remove_prefix(1);
  if (!field.parseHeaderValueBytes(params, encoding, complaints)) {
    complaints->push_back({true, "MultipartFormDataParser: Bad params for header with name '" +
                                     field._name + "' and value '" + field._value + "'"});
    return fail("MultipartFormDataParser: Params str: " + asASCII(params));
  }
  return field;
}

bool MultipartMessageHeaderField::parseHeaderValueBytes(std::string_view bytes, unsigned encoding,
                                                        std::vector<Complaint>* complaints) {
  bool inQuotes = false;
  std::size_t paramStart = 0;
  std::size_t valueStart = 0;
  std::optional<std::string> key;
  auto store = [&](std::string_view valueBytes, bool atEnd) {
    std::optional<std::string> value = readParamValue(valueBytes, encoding);
    if (value) {
      _params[*key] = *value;
      return;
    }
    complaints->push_back(
        {atEnd, "MultipartFormDataParser: Failed to exctract paramValue for key " + *key +
                    " in header " + _name});
  };
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    char c = bytes[i];
    if (c == '"' && (i == 0 || bytes[i - 1] != '\\')) {
      inQuotes = !inQuotes;
      continue;
    }
    if (inQuotes) continue;
    if (c == '=') {
      if (key) return false;
      key = asASCII(bytes.substr(paramStart, i - paramStart));
      valueStart = i + 1;
    } else if (c == ';') {
      if (!key) {
        complaints->push_back(
            {true, "MultipartFormDataParser: Unexpected ';' when parsing header"});
        return false;
      }
      store(bytes.substr(valueStart, i - valueStart), false);
      key.reset();
      paramStart = i + 1;
      while (paramStart < bytes.size() && isBlank(bytes[paramStart])) ++paramStart;
      i = paramStart - 1;
    }
  }
  if (inQuotes) {
    complaints->push_back(
        {false, "MultipartFormDataParser: unterminated quote in header " + _name});
  }
  if (key) store(bytes.substr(valueStart), true);
  return true;
}

std::string MultipartMessageHeaderField::description() const {
  std::string text = _name + ":" + _value + "\n params: {";
  for (const auto& [key, value] : _params) text += "\n    " + key + " = " + value + ";";
  return text + (_params.empty() ? "}" : "\n}");
}
