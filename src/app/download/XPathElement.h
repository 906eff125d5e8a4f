#pragma once
// XPathElement: a plain snapshot of one node of a parsed HTML or XML document, detached from the
// parser: its name, its own text content, its attributes (values trimmed of surrounding white
// space and line breaks) and its children. Elements reached through `children()` know the
// element they came from as `parent()`; query results have none.
//
// The snapshot is a dictionary with the keys "nodeName", "nodeContent", "nodeAttributeArray"
// (entries with "attributeName" and "nodeContent") and "nodeChildArray"; a key is missing when
// the node has no such part.
//
// The lecture file list reads only `objectForKey`; the navigation and text accessors are kept
// from the design for the screens and are covered by tests.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"

class XPathElement : public std::enable_shared_from_this<XPathElement> {
 public:
  using List = std::vector<std::shared_ptr<XPathElement>>;

  static std::shared_ptr<XPathElement> elementWithNode(platform::Dictionary node);

  const platform::Dictionary& node() const { return _node; }

  std::optional<std::string> tagName() const;
  std::optional<std::string> content() const;
  std::string description() const;

  // Attribute name to value, for the attributes that have both.
  std::map<std::string, std::string> attributes() const;
  std::optional<std::string> objectForKey(const std::string& name) const;

  // A new element per child snapshot, each with this element as parent.
  List children();
  std::shared_ptr<XPathElement> firstChild();
  bool hasChildren() const;
  bool isTextNode() const;
  List childrenWithTagName(const std::string& tagName);
  std::shared_ptr<XPathElement> firstChildWithTagName(const std::string& tagName);
  List childrenWithClassName(const std::string& className);
  std::shared_ptr<XPathElement> firstChildWithClassName(const std::string& className);
  std::shared_ptr<XPathElement> firstTextChild();
  std::optional<std::string> text();

  // The element this one was reached from; not owned, so absent once that element is gone.
  std::shared_ptr<XPathElement> parent() const { return _parent.lock(); }
  void setParent(const std::shared_ptr<XPathElement>& parent) { _parent = parent; }

 private:
  explicit XPathElement(platform::Dictionary node);

  platform::Dictionary _node;
  std::weak_ptr<XPathElement> _parent;
};
