#include <gtest/gtest.h>

#include <string>

#include "platform/media/HTMLPageBounds.h"

namespace platform {
namespace {

using Cut = HTMLPageBounds::Cut;

std::string repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

TEST(HTMLPageBoundsTest, APageWithinTheBoundsIsHandedOnAsItCame) {
  const std::string pages[] = {
      "<html><head><title>讲义</title><style>p { margin: 0 }</style></head><body>"
      "<h1>会计基础</h1><p>本讲<b>介绍</b>企业会计准则。<p>第二段<ul><li>一<li>二</ul>"
      "<table border=1><tr><td colspan=2>表</td></tr><tr><td rowspan=\"3\">1<td>2</table>"
      "<img src=\"a.png\"></body></html>",
      // Paragraphs and list items left open, as old editors write them, close one another.
      repeat("<p><font size=2>段落", 1500),
      repeat("<li>条目", 5000),
      repeat("<tr><td>格<td>格", 1000),
      // Markup inside a script or a comment is text.
      "<script>" + repeat("<div>", 5000) + "</script><!--" + repeat("<table>", 5000) + "-->",
      repeat("<div>", HTMLPageBounds::kMaxDepth - 2) + "x",
      repeat("<table><tr><td>", HTMLPageBounds::kMaxTableDepth) + "x",
  };
  for (const auto& page : pages) {
    SCOPED_TRACE(page.substr(0, 80));
    auto result = HTMLPageBounds::apply(page);
    EXPECT_EQ(result.cut, Cut::None);
    EXPECT_EQ(result.html, page);
  }
}

TEST(HTMLPageBoundsTest, APageBeyondABoundIsCutWhereItFirstGoesBeyond) {
  struct Case {
    const char* name;
    std::string page;
    Cut cut;
    std::string kept;  // the page as handed on
  };
  const std::string tables = repeat("<table><tr><td>", HTMLPageBounds::kMaxTableDepth);
  const std::string divs = repeat("<div>", HTMLPageBounds::kMaxDepth - 2);
  const Case cases[] = {
      {"18 nested tables", repeat("<table><tr><td>", 18) + "x" + repeat("</td></tr></table>", 18),
       Cut::TableDepth, tables},
      {"10,000 nested tables", repeat("<table><tr><td>", 10000) + "x", Cut::TableDepth, tables},
      {"10,000 nested divs", repeat("<div>", 10000) + "x" + repeat("</div>", 10000), Cut::Depth,
       divs},
      {"100,000 nested spans", repeat("<span>", 100000), Cut::Depth,
       repeat("<span>", HTMLPageBounds::kMaxDepth - 2)},
      // html and body, 100 divs, four tables each with its body, row and cell: 118 levels; ten
      // divs more reach the bound.
      {"nested tables count their own bodies and rows",
       repeat("<div>", 100) + repeat("<table><td>", 4) + repeat("<div>", 30), Cut::Depth,
       repeat("<div>", 100) + repeat("<table><td>", 4) + repeat("<div>", 10)},
      // Every new paragraph opens again the hundred bold elements the last one closed.
      {"formatting reopened by every paragraph", "<p>" + repeat("<b>", 100) + repeat("<p>x", 3000),
       Cut::Elements, ""},
      {"more elements than a page holds", repeat("<p>x</p>", 20000), Cut::Elements,
       repeat("<p>x</p>", HTMLPageBounds::kMaxElements - 3)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto result = HTMLPageBounds::apply(c.page);
    EXPECT_EQ(result.cut, c.cut);
    EXPECT_EQ(result.html, c.page.substr(0, result.html.size())) << "a prefix of the page";
    if (!c.kept.empty()) {
      EXPECT_EQ(result.html, c.kept);
    }
    EXPECT_LT(result.html.size(), c.page.size());
  }
}

TEST(HTMLPageBoundsTest, APageLongerThanTheBoundIsCutBetweenCharacters) {
  std::string page = "<p>" + repeat("讲", HTMLPageBounds::kMaxBytes / 3 + 10);
  auto result = HTMLPageBounds::apply(page);
  EXPECT_EQ(result.cut, Cut::Bytes);
  EXPECT_LE(result.html.size(), HTMLPageBounds::kMaxBytes);
  EXPECT_EQ((result.html.size() - 3) % 3, 0u) << "no character cut in two";
}

TEST(HTMLPageBoundsTest, SpansAreClampedAsBrowsersClampThem) {
  const std::pair<std::string, std::string> cases[] = {
      {"<td colspan=2147483647>", "<td colspan=1000>"},
      {"<td colspan=\"10000000\">", "<td colspan=\"1000\">"},
      {"<td COLSPAN='1000'>", "<td COLSPAN='1000'>"},
      {"<td colspan=0>", "<td colspan=1>"},
      {"<td colspan=-3>", "<td colspan=1>"},
      {"<td colspan=wide>", "<td colspan=1>"},
      {"<td colspan=\" 7px\">", "<td colspan=\" 7px\">"},
      {"<td rowspan=2147483647 colspan=2>", "<td rowspan=65534 colspan=2>"},
      {"<td rowspan=65534>", "<td rowspan=65534>"},
      {"<th rowspan=99999999999999999999>", "<th rowspan=65534>"},
  };
  for (const auto& [in, out] : cases) {
    std::string page = "<table><tr>" + in + "x</table>";
    auto result = HTMLPageBounds::apply(page);
    EXPECT_EQ(result.html, "<table><tr>" + out + "x</table>") << in;
    EXPECT_EQ(result.cut, Cut::None);
  }
}

}  // namespace
}  // namespace platform
