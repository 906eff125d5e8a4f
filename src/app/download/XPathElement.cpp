#include "download/XPathElement.h"

namespace {

std::optional<std::string> textOf(const platform::Dictionary& node, const std::string& key) {
  const platform::Value* value = platform::find(node, key);
  if (!value || !value->asText()) return std::nullopt;
  return *value->asText();
}

const platform::Array* arrayOf(const platform::Dictionary& node, const std::string& key) {
  const platform::Value* value = platform::find(node, key);
  return value ? value->asArray() : nullptr;
}

}  // namespace

XPathElement::XPathElement(platform::Dictionary node) : _node(std::move(node)) {}

std::shared_ptr<XPathElement> XPathElement::elementWithNode(platform::Dictionary node) {
  return std::shared_ptr<XPathElement>(new XPathElement(std::move(node)));
}

std::optional<std::string> XPathElement::tagName() const { return textOf(_node, "nodeName"); }

std::optional<std::string> XPathElement::content() const { return textOf(_node, "nodeContent"); }

std::string XPathElement::description() const { return platform::Value(_node).description(); }

std::map<std::string, std::string> XPathElement::attributes() const {
  std::map<std::string, std::string> attributes;
  const platform::Array* entries = arrayOf(_node, "nodeAttributeArray");
  if (!entries) return attributes;
  for (const platform::Value& entry : *entries) {
    const platform::Dictionary* fields = entry.asDictionary();
    if (!fields) continue;
    auto name = textOf(*fields, "attributeName");
    auto value = textOf(*fields, "nodeContent");
    if (name && value) attributes[*name] = *value;
  }
  return attributes;
}

std::optional<std::string> XPathElement::objectForKey(const std::string& name) const {
  auto all = attributes();
  auto found = all.find(name);
  if (found == all.end()) return std::nullopt;
  return found->second;
}

XPathElement::List XPathElement::children() {
  List children;
  const platform::Array* snapshots = arrayOf(_node, "nodeChildArray");
  if (!snapshots) return children;
  for (const platform::Value& snapshot : *snapshots) {
    const platform::Dictionary* fields = snapshot.asDictionary();
    if (!fields) continue;
    auto child = elementWithNode(*fields);
    child->setParent(shared_from_this());
    children.push_back(std::move(child));
  }
  return children;
}

std::shared_ptr<XPathElement> XPathElement::firstChild() {
  auto all = children();
  return all.empty() ? nullptr : all.front();
}

bool XPathElement::hasChildren() const { return arrayOf(_node, "nodeChildArray") != nullptr; }

bool XPathElement::isTextNode() const { return tagName() == "text" && content().has_value(); }

XPathElement::List XPathElement::childrenWithTagName(const std::string& tagName) {
  List matching;
  for (auto& child : children())
    if (child->tagName() == tagName) matching.push_back(child);
  return matching;
}

std::shared_ptr<XPathElement> XPathElement::firstChildWithTagName(const std::string& tagName) {
  auto matching = childrenWithTagName(tagName);
  return matching.empty() ? nullptr : matching.front();
}

XPathElement::List XPathElement::childrenWithClassName(const std::string& className) {
  List matching;
  for (auto& child : children())
    if (child->objectForKey("class") == className) matching.push_back(child);
  return matching;
}

std::shared_ptr<XPathElement> XPathElement::firstChildWithClassName(const std::string& className) {
  auto matching = childrenWithClassName(className);
  return matching.empty() ? nullptr : matching.front();
}

std::shared_ptr<XPathElement> XPathElement::firstTextChild() {
  for (auto& child : children())
    if (child->isTextNode()) return child;
  return firstChildWithTagName("text");
}

std::optional<std::string> XPathElement::text() {
  auto child = firstTextChild();
  if (!child) return std::nullopt;
  return child->content();
}
