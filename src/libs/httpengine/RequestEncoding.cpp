#include "httpengine/RequestEncoding.h"

#include "httpengine/HttpBase64.h"
#include "httpengine/HttpEngineAdditions.h"
#include "httpengine/RFC1123.h"
#include "platform/foundation/DateFormat.h"
#include "platform/foundation/Json.h"

namespace {

std::string xmlEscaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

void writePlist(const platform::Value& value, std::string& out, int depth) {
  using Kind = platform::Value::Kind;
  std::string indent(static_cast<std::size_t>(depth), '\t');
  switch (value.kind()) {
    case Kind::Bool:
      out += indent + (*value.asBool() ? "<true/>\n" : "<false/>\n");
      break;
    case Kind::Integer:
      out += indent + "<integer>" + value.stringValue() + "</integer>\n";
      break;
    case Kind::Double:
      out += indent + "<real>" + value.stringValue() + "</real>\n";
      break;
    case Kind::Text:
      out += indent + "<string>" + xmlEscaped(*value.asText()) + "</string>\n";
      break;
    case Kind::Bytes:
      out += indent + "<data>" + HttpBase64::base64EncodedString(*value.asBytes()) + "</data>\n";
      break;
    case Kind::Date:
      out += indent + "<date>" +
             platform::formatDate(*value.asDate(), "yyyy-MM-dd'T'HH:mm:ss'Z'",
                                  platform::TimeZone::utc()) +
             "</date>\n";
      break;
    case Kind::Array:
      out += indent + "<array>\n";
      for (const auto& item : *value.asArray()) writePlist(item, out, depth + 1);
      out += indent + "</array>\n";
      break;
    case Kind::Dictionary:
      out += indent + "<dict>\n";
      for (const auto& [key, item] : *value.asDictionary()) {
        out += indent + "\t<key>" + xmlEscaped(key) + "</key>\n";
        writePlist(item, out, depth + 1);
      }
      out += indent + "</dict>\n";
      break;
    default:  // null and objects have no property-list form
      out += indent + "<string></string>\n";
  }
}

}  // namespace

std::string RequestEncoding::urlEncodedKeyValueString(const platform::Dictionary& dictionary) {
  std::string out;
  for (const auto& [key, value] : dictionary) {
    if (!out.empty()) out += '&';
    out += HttpEngineAdditions::he_urlEncodedString(key);
    out += '=';
    if (const std::string* text = value.asText()) {
      out += HttpEngineAdditions::he_urlEncodedString(*text);
    } else if (value.isNumber()) {
      out += value.kind() == platform::Value::Kind::Bool ? (value.boolValue() ? "1" : "0")
                                                         : value.stringValue();
    } else {
      out += value.description();
    }
  }
  return out;
}

std::string RequestEncoding::jsonEncodedKeyValueString(const platform::Dictionary& dictionary) {
  // JSON carries UTF-8 text only; the library reports other bytes by throwing, which must not
  // end a request's start on a queue thread. Such a dictionary has no JSON form.
  try {
    return platform::Json::fromValue(platform::Value(dictionary)).dump();
  } catch (const nlohmann::json::type_error&) {
    return "";
  }
}

std::string RequestEncoding::plistEncodedKeyValueString(const platform::Dictionary& dictionary) {
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
      "<plist version=\"1.0\">\n";
  writePlist(platform::Value(dictionary), out, 0);
  out += "</plist>\n";
  return out;
}
