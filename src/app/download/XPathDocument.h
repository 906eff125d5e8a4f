#pragma once
// XPathDocument: XPath queries over an HTML or XML document held in memory, on libxml2. Each
// query parses the bytes anew (HTML leniently and silently, XML in recovery mode), evaluates the
// query and returns one XPathElement snapshot per matched node, in document order. Failures of
// any kind (no bytes, a document that does not parse, a bad query) give an empty list; nothing
// is reported and nothing is shared between queries.

#include <memory>
#include <string>
#include <string_view>

#include "download/XPathElement.h"
#include "platform/foundation/Value.h"

class XPathDocument {
 public:
  XPathDocument(platform::Bytes data, bool isXML);
  static std::shared_ptr<XPathDocument> documentWithData(platform::Bytes data, bool isXML);
  static std::shared_ptr<XPathDocument> documentWithHTMLData(platform::Bytes data);
  static std::shared_ptr<XPathDocument> documentWithXMLData(platform::Bytes data);

  XPathElement::List searchWithXPathQuery(const std::string& query) const;
  // The first element of the search, or null.
  std::shared_ptr<XPathElement> peekAtSearchWithXPathQuery(const std::string& query) const;

  const platform::Bytes& data() const { return _data; }
  bool isXML() const { return _isXML; }

 private:
  platform::Bytes _data;
  bool _isXML;
};
