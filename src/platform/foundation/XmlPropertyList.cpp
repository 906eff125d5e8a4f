#include "platform/foundation/XmlPropertyList.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#include "platform/foundation/Base64.h"
#include "platform/foundation/DateFormat.h"
#include "platform/foundation/PropertyListSerialization.h"

namespace platform {

namespace {

struct DocumentDeleter {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};

bool named(const xmlNode* node, const char* name) {
  return std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

bool isBlank(std::string_view text) {
  return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

std::string_view trimmed(std::string_view text) {
  std::size_t start = text.find_first_not_of(" \t\r\n");
  if (start == std::string_view::npos) return {};
  std::size_t end = text.find_last_not_of(" \t\r\n");
  return text.substr(start, end - start + 1);
}

class Reader {
 public:
  std::optional<Value> read(std::string_view data, std::string* error) {
    if (data.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
      return fail(error, "property list too large");
    }
    std::unique_ptr<xmlDoc, DocumentDeleter> doc(
        xmlReadMemory(data.data(), static_cast<int>(data.size()), nullptr, nullptr,
                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    if (!doc) return fail(error, "not well-formed XML");
    xmlNode* root = xmlDocGetRootElement(doc.get());
    if (!root || !named(root, "plist")) return fail(error, "no plist element");
    const xmlNode* top = nullptr;
    if (!onlyElement(root, &top) || !top)
      return fail(error, error_.empty() ? "empty plist" : error_);
    std::optional<Value> value = readValue(top, 0);
    if (!value) return fail(error, error_);
    return value;
  }

 private:
  std::optional<Value> fail(std::string* error, const std::string& reason) {
    if (error) *error = reason.empty() ? "malformed XML property list" : reason;
    return std::nullopt;
  }

  std::nullopt_t refuse(const std::string& reason) {
    if (error_.empty()) error_ = reason;
    return std::nullopt;
  }

  // Whether `parent` holds nothing but white space, comments and at most one element.
  bool onlyElement(const xmlNode* parent, const xmlNode** element) {
    *element = nullptr;
    for (const xmlNode* child = parent->children; child; child = child->next) {
      if (!skippable(child)) {
        if (child->type != XML_ELEMENT_NODE || *element) {
          refuse("unexpected content in <plist>");
          return false;
        }
        *element = child;
      }
    }
    return true;
  }

  static bool skippable(const xmlNode* node) {
    if (node->type == XML_COMMENT_NODE || node->type == XML_PI_NODE) return true;
    if (node->type == XML_TEXT_NODE) {
      return isBlank(reinterpret_cast<const char*>(node->content ? node->content : BAD_CAST ""));
    }
    return false;
  }

  // The text of an element: its text and CDATA children; anything else (an element, an
  // entity reference left unexpanded) makes it unreadable.
  std::optional<std::string> text(const xmlNode* element) {
    std::string out;
    for (const xmlNode* child = element->children; child; child = child->next) {
      if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) {
        if (child->content) out += reinterpret_cast<const char*>(child->content);
      } else if (child->type != XML_COMMENT_NODE && child->type != XML_PI_NODE) {
        return refuse(std::string("unexpected content in <") +
                      reinterpret_cast<const char*>(element->name) + ">");
      }
    }
    return out;
  }

  std::optional<Value> readValue(const xmlNode* element, int depth) {
    if (depth > PropertyListSerialization::kMaxDepth)
      return refuse("property list nested too deep");
    if (named(element, "dict")) return readDictionary(element, depth);
    if (named(element, "array")) return readArray(element, depth);
    if (named(element, "true") || named(element, "false")) {
      const xmlNode* inner = nullptr;
      if (!onlyElement(element, &inner) || inner) return refuse("content in a boolean");
      return Value(named(element, "true"));
    }
    std::optional<std::string> content = text(element);
    if (!content) return std::nullopt;
    if (named(element, "string")) return Value(std::move(*content));
    if (named(element, "integer")) return readInteger(trimmed(*content));
    if (named(element, "real")) return readReal(trimmed(*content));
    if (named(element, "date")) return readDate(trimmed(*content));
    if (named(element, "data")) {
      std::optional<Bytes> bytes = base64Decode(*content);
      if (!bytes) return refuse("bad <data>");
      return Value(std::move(*bytes));
    }
    return refuse(std::string("unknown element <") + reinterpret_cast<const char*>(element->name) +
                  ">");
  }

  std::optional<Value> readArray(const xmlNode* element, int depth) {
    Array items;
    for (const xmlNode* child = element->children; child; child = child->next) {
      if (skippable(child)) continue;
      if (child->type != XML_ELEMENT_NODE) return refuse("unexpected content in <array>");
      std::optional<Value> item = readValue(child, depth + 1);
      if (!item) return std::nullopt;
      items.push_back(std::move(*item));
    }
    return Value(std::move(items));
  }

  std::optional<Value> readDictionary(const xmlNode* element, int depth) {
    Dictionary entries;
    std::optional<std::string> key;
    for (const xmlNode* child = element->children; child; child = child->next) {
      if (skippable(child)) continue;
      if (child->type != XML_ELEMENT_NODE) return refuse("unexpected content in <dict>");
      if (!key) {
        if (!named(child, "key")) return refuse("<dict> entry without <key>");
        key = text(child);
        if (!key) return std::nullopt;
        continue;
      }
      std::optional<Value> item = readValue(child, depth + 1);
      if (!item) return std::nullopt;
      entries.insert_or_assign(std::move(*key), std::move(*item));
      key.reset();
    }
    if (key) return refuse("<key> without a value");
    return Value(std::move(entries));
  }

  std::optional<Value> readInteger(std::string_view text) {
    std::string_view digits = text;
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    std::int64_t value = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    bool whole = !digits.empty() && end == digits.data() + digits.size();
    // An integer beyond 64 bits is the nearest double rather than a refused list.
    if (whole && ec == std::errc::result_out_of_range) {
      return Value(std::strtod(std::string(digits).c_str(), nullptr));
    }
    if (!whole || ec != std::errc()) return refuse("bad <integer>");
    return Value(value);
  }

  std::optional<Value> readReal(std::string_view text) {
    std::string lower;
    for (char c : text) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (lower == "nan") return Value(std::nan(""));
    if (lower == "inf" || lower == "+inf" || lower == "infinity" || lower == "+infinity") {
      return Value(std::numeric_limits<double>::infinity());
    }
    if (lower == "-inf" || lower == "-infinity")
      return Value(-std::numeric_limits<double>::infinity());
    std::string_view digits = text;
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    double value = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() ||
        std::isnan(value) || std::isinf(value)) {
      return refuse("bad <real>");
    }
    return Value(value);
  }

  // "YYYY-MM-DDTHH:MM:SSZ".
  std::optional<Value> readDate(std::string_view text) {
    std::optional<Date> date = parseDate(text, "yyyy-MM-dd'T'HH:mm:ss'Z'", TimeZone::utc());
    if (!date) return refuse("bad <date>");
    return Value(*date);
  }

  std::string error_;
};

}  // namespace

std::optional<Value> XmlPropertyList::read(std::string_view data, std::string* error) {
  return Reader().read(data, error);
}

}  // namespace platform
