#include "download/XPathDocument.h"

#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <libxml/xpath.h>

#include <optional>

namespace {

// Decodes the UTF-8 sequence starting at `i`; `length` gets its byte count (1 for a bad byte).
char32_t decodeAt(const std::string& s, std::size_t i, std::size_t& length) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char first = byte(i);
  std::size_t need = first < 0x80         ? 1
                     : (first >> 5) == 6  ? 2
                     : (first >> 4) == 14 ? 3
                     : (first >> 3) == 30 ? 4
                                          : 1;
  if (need == 1 || i + need > s.size()) {
    length = 1;
    return first;
  }
  char32_t c = first & (0xFF >> (need + 1));
  for (std::size_t k = 1; k < need; ++k) c = (c << 6) | (byte(i + k) & 0x3F);
  length = need;
  return c;
}

// White space and line breaks as the platform's trimming knows them.
bool isSpaceOrNewline(char32_t c) {
  return c == ' ' || (c >= 0x09 && c <= 0x0D) || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

std::string trimmed(const std::string& s) {
  std::size_t begin = 0;
  while (begin < s.size()) {
    std::size_t length = 0;
    if (!isSpaceOrNewline(decodeAt(s, begin, length))) break;
    begin += length;
  }
  std::size_t end = begin;
  for (std::size_t i = begin; i < s.size();) {
    std::size_t length = 0;
    bool space = isSpaceOrNewline(decodeAt(s, i, length));
    i += length;
    if (!space) end = i;
  }
  return s.substr(begin, end - begin);
}

std::string utf8(const xmlChar* text) { return reinterpret_cast<const char*>(text); }

// Node kinds laid out as a plain node with content. Attributes, documents, document type
// declarations, entities and namespace declarations have other layouts and are read only for
// their name (and, for containers, their children).
bool hasNodeLayout(xmlElementType type) {
  return type == XML_ELEMENT_NODE || type == XML_TEXT_NODE || type == XML_CDATA_SECTION_NODE ||
         type == XML_COMMENT_NODE || type == XML_PI_NODE;
}

bool isContainer(xmlElementType type) {
  return type == XML_ATTRIBUTE_NODE || type == XML_DOCUMENT_NODE ||
         type == XML_HTML_DOCUMENT_NODE || type == XML_DOCUMENT_FRAG_NODE;
}

// Snapshots go this many levels below the matched node and no further. The parser already
// refuses deeper documents (256 levels); the bound keeps the recursion safe whatever it lets
// through.
constexpr int kMaxSnapshotDepth = 512;

std::optional<platform::Dictionary> snapshot(xmlNodePtr node, platform::Dictionary* owner,
                                             bool isAttributeValue, int depth);

void addChildren(xmlNodePtr first, platform::Dictionary& into, int depth) {
  if (depth >= kMaxSnapshotDepth) return;
  platform::Array children;
  for (xmlNodePtr child = first; child; child = child->next) {
    if (auto shot = snapshot(child, &into, false, depth + 1))
      children.emplace_back(std::move(*shot));
  }
  if (!children.empty()) into["nodeChildArray"] = std::move(children);
}

void addAttributes(xmlAttrPtr first, platform::Dictionary& into, int depth) {
  platform::Array entries;
  for (xmlAttrPtr attribute = first; attribute; attribute = attribute->next) {
    platform::Dictionary entry;
    if (attribute->name) entry["attributeName"] = utf8(attribute->name);
    if (attribute->children) {
      if (auto shot = snapshot(attribute->children, &entry, true, depth + 1))
        entry["attributeContent"] = std::move(*shot);
    }
    if (!entry.empty()) entries.emplace_back(std::move(entry));
  }
  if (!entries.empty()) into["nodeAttributeArray"] = std::move(entries);
}

std::optional<platform::Dictionary> snapshot(xmlNodePtr node, platform::Dictionary* owner,
                                             bool isAttributeValue, int depth) {
  platform::Dictionary shot;
  if (node->type == XML_NAMESPACE_DECL) return shot;
  if (node->name) shot["nodeName"] = utf8(node->name);
  if (!hasNodeLayout(node->type)) {
    if (isContainer(node->type)) addChildren(node->children, shot, depth);
    return shot;
  }
  if (node->content) {
    std::string content = utf8(node->content);
    bool isText = node->name && utf8(node->name) == "text";
    if (isText && owner) {
      if (isAttributeValue) {
        (*owner)["nodeContent"] = trimmed(content);
        return std::nullopt;
      }
      shot["nodeContent"] = std::move(content);
      return shot;
    }
    shot["nodeContent"] = std::move(content);
  }
  if (node->type == XML_ELEMENT_NODE) addAttributes(node->properties, shot, depth);
  addChildren(node->children, shot, depth);
  return shot;
}

xmlDocPtr parse(const platform::Bytes& data, bool isXML) {
  if (data.empty()) return nullptr;
  const char* bytes = reinterpret_cast<const char*>(data.data());
  int size = static_cast<int>(data.size());
  if (isXML) return xmlReadMemory(bytes, size, "", nullptr, XML_PARSE_RECOVER);
  return htmlReadMemory(bytes, size, "", nullptr, HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING);
}

}  // namespace

XPathDocument::XPathDocument(platform::Bytes data, bool isXML)
    : _data(std::move(data)), _isXML(isXML) {}

std::shared_ptr<XPathDocument> XPathDocument::documentWithData(platform::Bytes data, bool isXML) {
  return std::make_shared<XPathDocument>(std::move(data), isXML);
}

std::shared_ptr<XPathDocument> XPathDocument::documentWithHTMLData(platform::Bytes data) {
  return documentWithData(std::move(data), false);
}

std::shared_ptr<XPathDocument> XPathDocument::documentWithXMLData(platform::Bytes data) {
  return documentWithData(std::move(data), true);
}

XPathElement::List XPathDocument::searchWithXPathQuery(const std::string& query) const {
  XPathElement::List elements;
  if (_data.size() > static_cast<std::size_t>(INT32_MAX)) return elements;
  xmlDocPtr document = parse(_data, _isXML);
  if (!document) return elements;
  xmlXPathContextPtr context = xmlXPathNewContext(document);
  // A query that does not compile gives no nodes; its message would only be noise.
  if (context) context->error = [](void*, xmlErrorPtr) {};
  xmlXPathObjectPtr result =
      context ? xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(query.c_str()), context)
              : nullptr;
  if (result && result->nodesetval) {
    xmlNodeSetPtr nodes = result->nodesetval;
    for (int i = 0; i < nodes->nodeNr; ++i) {
      if (auto shot = snapshot(nodes->nodeTab[i], nullptr, false, 0))
        elements.push_back(XPathElement::elementWithNode(std::move(*shot)));
    }
  }
  if (result) xmlXPathFreeObject(result);
  if (context) xmlXPathFreeContext(context);
  xmlFreeDoc(document);
  return elements;
}

std::shared_ptr<XPathElement> XPathDocument::peekAtSearchWithXPathQuery(
    const std::string& query) const {
  auto elements = searchWithXPathQuery(query);
  return elements.empty() ? nullptr : elements.front();
}
