#include <gtest/gtest.h>

#include <string>

#include "download/XPathDocument.h"

namespace {

platform::Bytes bytes(const std::string& text) { return platform::Bytes(text.begin(), text.end()); }

std::vector<std::string> attributeValues(const XPathElement::List& elements,
                                         const std::string& name) {
  std::vector<std::string> values;
  for (const auto& element : elements) {
    auto value = element->objectForKey(name);
    values.push_back(value ? *value : "<absent>");
  }
  return values;
}

struct AttributeCase {
  const char* html;
  const char* query;
  const char* attribute;
  std::vector<std::string> expected;
};

TEST(XPathDocumentTest, AttributeValuesTable) {
  const AttributeCase cases[] = {
      {"<img src=\"  a.png \n\">", "//img", "src", {"a.png"}},
      {"<img src=\"\n\tpic/b.jpg\r\n\">", "//img", "src", {"pic/b.jpg"}},
      {"<img src=\"\xC2\xA0"
       "c.png\xE3\x80\x80\">",
       "//img",
       "src",
       {"c.png"}},
      {"<img alt=\"x\"><img src=\"d.png\">", "//img", "src", {"<absent>", "d.png"}},
      // A fragment without html and body still yields its elements.
      {"<script src=\"js/a.js\"></script><link href=\"css/b.css\"><img src=\"c.png\">",
       "//script",
       "src",
       {"js/a.js"}},
      {"<script src=\"js/a.js\"></script><link href=\"css/b.css\"><img src=\"c.png\">",
       "//link",
       "href",
       {"css/b.css"}},
      {"<script src=\"js/a.js\"></script><link href=\"css/b.css\"><img src=\"c.png\">",
       "//img",
       "src",
       {"c.png"}},
      {"<p>a &amp; b</p><img src=\"x.png?a=1&amp;b=2\">", "//img", "src", {"x.png?a=1&b=2"}},
      {"<p>no images</p>", "//img", "src", {}},
      {"", "//img", "src", {}},
      {"<img src=\"a.png\">", "//img[", "src", {}},
  };
  for (const auto& c : cases) {
    auto document = XPathDocument::documentWithHTMLData(bytes(c.html));
    EXPECT_EQ(attributeValues(document->searchWithXPathQuery(c.query), c.attribute), c.expected)
        << c.html << " / " << c.query;
  }
}

TEST(XPathDocumentTest, ElementsOfASearchHaveNoParentAndChildrenPointBack) {
  auto document = XPathDocument::documentWithHTMLData(
      bytes("<div class=\"box\"><p class=\"lead\">hello <b>world</b></p><p>two</p></div>"));
  auto div = document->peekAtSearchWithXPathQuery("//div");
  ASSERT_TRUE(div);
  EXPECT_EQ(div->tagName(), "div");
  EXPECT_FALSE(div->parent());
  auto paragraphs = div->childrenWithTagName("p");
  ASSERT_EQ(paragraphs.size(), 2u);
  EXPECT_EQ(paragraphs[0]->parent(), div);
  EXPECT_EQ(div->firstChildWithClassName("lead")->objectForKey("class"), "lead");
  EXPECT_EQ(paragraphs[0]->text(), "hello ");  // the text child keeps its spaces
  EXPECT_TRUE(paragraphs[0]->firstTextChild()->isTextNode());
  EXPECT_EQ(paragraphs[0]->firstChildWithTagName("b")->text(), "world");
  EXPECT_TRUE(div->childrenWithClassName("none").empty());
}

TEST(XPathDocumentTest, OnlyNodesWithContentHaveChildren) {
  auto document = XPathDocument::documentWithHTMLData(
      bytes("<div><p>text</p><img src=\"a.png\"><span></span></div>"));
  auto div = document->peekAtSearchWithXPathQuery("//div");
  ASSERT_TRUE(div);
  EXPECT_TRUE(div->hasChildren());
  auto children = div->children();
  ASSERT_EQ(children.size(), 3u);
  EXPECT_TRUE(children[0]->hasChildren());  // its text
  EXPECT_FALSE(children[0]->firstChild()->hasChildren());
  for (const auto& empty : {children[1], children[2]}) {
    EXPECT_FALSE(empty->hasChildren()) << *empty->tagName();
    EXPECT_TRUE(empty->children().empty());
    EXPECT_FALSE(empty->firstChild());
  }
}

TEST(XPathDocumentTest, XmlDocumentsParseInRecoveryMode) {
  auto document = XPathDocument::documentWithXMLData(
      bytes("<list><item id=\" 1 \">a</item><item id=\"2\">b</item><broken></list>"));
  auto items = document->searchWithXPathQuery("//item");
  EXPECT_EQ(attributeValues(items, "id"), (std::vector<std::string>{"1", "2"}));
  EXPECT_TRUE(document->isXML());
  EXPECT_TRUE(XPathDocument::documentWithXMLData({})->searchWithXPathQuery("//item").empty());
}

TEST(XPathDocumentTest, NodesOfEveryKindSnapshotWithoutHarm) {
  // Attribute, namespace, document type and entity nodes are laid out differently from
  // elements; asking for them must give plain snapshots, not read foreign memory.
  auto html = XPathDocument::documentWithHTMLData(
      bytes("<!DOCTYPE html><html><body><!-- c --><img src=\"a.png\"></body></html>"));
  EXPECT_FALSE(html->searchWithXPathQuery("//node()").empty());
  EXPECT_FALSE(html->searchWithXPathQuery("/").empty());
  auto source = html->peekAtSearchWithXPathQuery("//img/@src");
  ASSERT_TRUE(source);
  EXPECT_EQ(source->tagName(), "src");
  auto xml = XPathDocument::documentWithXMLData(
      bytes("<!DOCTYPE r [<!ENTITY e \"v\">]><r xmlns:x=\"urn:x\"><x:a>&e;</x:a></r>"));
  EXPECT_FALSE(xml->searchWithXPathQuery("//node()").empty());
  EXPECT_FALSE(xml->searchWithXPathQuery("//namespace::*").empty());
}

}  // namespace
