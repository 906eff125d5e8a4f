#pragma once
// HTMLPageBounds: what a page from outside may ask of the layout before it gets there. The HTML
// parser beneath litehtml records a copy of its open elements with every parse error, rebuilds
// unclosed formatting elements after every paragraph, and litehtml recurses once per level of
// the tree and lays out every table cell more than once per enclosing table, so a few hundred
// bytes can hold the main thread for minutes or take the whole stack or memory. One linear pass
// over the text, which follows the parser's tree building closely enough to never count less
// than it builds, finds where the page first goes beyond a bound and cuts the page there: what
// came before is drawn, nothing after it. Spans are clamped as browsers clamp them.
//
// The bounds (see docs/DESIGN.md, "Headless media"): a notes page is a few headings, paragraphs,
// lists, pictures and tables a few levels deep, at most a few hundred KB.

#include <cstddef>
#include <string>

namespace platform {

class HTMLPageBounds {
 public:
  // Bytes of a page that are parsed at all.
  static constexpr std::size_t kMaxBytes = 1024 * 1024;
  // Levels of elements, counting the ones the parser adds by itself.
  static constexpr int kMaxDepth = 128;
  // Tables inside tables: each level multiplies the layout's work.
  static constexpr int kMaxTableDepth = 4;
  // Elements of the whole page, counting the ones the parser adds by itself.
  static constexpr int kMaxElements = 10000;
  static constexpr long kMaxColspan = 1000;
  static constexpr long kMaxRowspan = 65534;

  enum class Cut { None, Bytes, Depth, TableDepth, Elements };

  struct Result {
    std::string html;     // the page as it is handed to the layout
    Cut cut = Cut::None;  // the bound that cut it, if any
  };

  // `html` bounded: cut where it first goes beyond a bound, spans clamped.
  static Result apply(const std::string& html);
};

}  // namespace platform
