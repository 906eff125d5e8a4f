#include "platform/media/HTMLPageBounds.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string_view>
#include <vector>

namespace platform {

namespace {

bool isOneOf(std::string_view name, std::initializer_list<std::string_view> names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

bool isVoid(std::string_view name) {
  return isOneOf(
      name, {"area", "base", "basefont", "bgsound", "br", "col", "embed", "frame", "hr", "image",
             "img", "input", "keygen", "link", "meta", "param", "source", "track", "wbr"});
}

// Elements the parser opens again after the block that closed them, until their own end tag.
bool isFormatting(std::string_view name) {
  return isOneOf(name, {"a", "b", "big", "code", "em", "font", "i", "nobr", "s", "small", "strike",
                        "strong", "tt", "u"});
}

// Elements whose content is text up to their own end tag.
bool isRawText(std::string_view name) {
  return isOneOf(name,
                 {"script", "style", "title", "textarea", "xmp", "iframe", "noembed", "noframes"});
}

// Elements that keep the formatting opened inside them from leaking out.
bool isMarker(std::string_view name) {
  return isOneOf(name, {"td", "th", "caption", "applet", "marquee", "object", "template"});
}

// Elements a list item or a definition may sit in without ending the search for an open one;
// every other element stops it (stopping early only ever counts more than the parser builds).
bool isPassedByItemSearch(std::string_view name) {
  return isOneOf(
      name, {"address", "div",   "p",   "span", "a",      "b",    "i",    "u",    "em",  "strong",
             "font",    "small", "big", "s",    "strike", "tt",   "code", "sub",  "sup", "label",
             "abbr",    "cite",  "q",   "var",  "kbd",    "samp", "dfn",  "mark", "nobr"});
}

// Start tags that end an open paragraph.
bool closesParagraph(std::string_view name) {
  return isOneOf(name,
                 {"address",  "article", "aside",  "blockquote", "center", "dir",  "div", "dl",
                  "fieldset", "figure",  "footer", "header",     "main",   "menu", "nav", "ol",
                  "p",        "section", "ul",     "h1",         "h2",     "h3",   "h4",  "h5",
                  "h6",       "pre",     "form",   "hr",         "li",     "dd",   "dt"});
}

bool isTablePart(std::string_view name) {
  return isOneOf(
      name, {"table", "caption", "colgroup", "col", "thead", "tbody", "tfoot", "tr", "td", "th"});
}

bool isParagraphScopeEdge(std::string_view name) {
  return isOneOf(name, {"applet", "caption", "html", "table", "td", "th", "marquee", "object",
                        "template", "button"});
}

std::string lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// A span attribute's value as browsers read it: leading digits after blanks; absent otherwise.
std::optional<long> spanValue(std::string_view value) {
  std::size_t i = 0;
  while (i < value.size() && std::isspace(static_cast<unsigned char>(value[i]))) ++i;
  if (i < value.size() && value[i] == '+') ++i;
  long number = 0;
  bool any = false;
  for (; i < value.size() && std::isdigit(static_cast<unsigned char>(value[i])); ++i) {
    number = std::min(number * 10 + (value[i] - '0'), 100000000L);
    any = true;
  }
  if (!any) return std::nullopt;
  return number;
}

struct Attribute {
  std::string name;
  std::size_t valueBegin = 0;  // in the page; valueBegin == valueEnd for no value
  std::size_t valueEnd = 0;
};

struct Tag {
  std::string name;
  bool end = false;
  std::size_t after = 0;  // one past the '>' (or the page's end)
  std::vector<Attribute> attributes;
};

// One open element of the estimate.
struct Open {
  std::string name;
  std::uint64_t formatting = 0;    // the id of its formatting entry, 0 for none
  std::size_t formattingMark = 0;  // for a marker: the formatting list's length when it opened
};

// One formatting element the parser may open again.
struct Formatting {
  std::uint64_t id;
  std::string key;  // name and attributes: the parser keeps at most three alike
  bool onStack;
};

class Scanner {
 public:
  explicit Scanner(const std::string& page) : page_(page) {}

  HTMLPageBounds::Result run() {
    HTMLPageBounds::Result result;
    std::size_t limit = std::min(page_.size(), HTMLPageBounds::kMaxBytes);
    while (limit < page_.size() && (static_cast<unsigned char>(page_[limit]) & 0xC0) == 0x80) {
      --limit;  // not inside a character
    }
    std::size_t pos = 0;
    while (pos < limit && result.cut == HTMLPageBounds::Cut::None) {
      std::size_t next = page_.find('<', pos);
      if (next == std::string::npos || next >= limit) next = limit;
      if (hasText(pos, next)) reconstruct();
      if (next == limit) break;
      std::size_t after = markup(next, limit, &result.cut);
      if (result.cut != HTMLPageBounds::Cut::None) {
        copyUpTo(next);
        result.html = std::move(out_);
        return result;
      }
      pos = after;
    }
    copyUpTo(limit);
    if (limit < page_.size()) result.cut = HTMLPageBounds::Cut::Bytes;
    result.html = std::move(out_);
    return result;
  }

 private:
  bool hasText(std::size_t begin, std::size_t end) const {
    for (std::size_t i = begin; i < end; ++i) {
      if (!std::isspace(static_cast<unsigned char>(page_[i]))) return true;
    }
    return false;
  }

  void copyUpTo(std::size_t end) {
    if (end > copied_) out_.append(page_, copied_, end - copied_);
    copied_ = std::max(copied_, end);
  }

  int depth() const {
    int offStack = 0;
    for (const auto& f : formatting_) offStack += f.onStack ? 0 : 1;
    // html and body above everything, the body and row groups a table gets by itself.
    return 2 + static_cast<int>(stack_.size()) + 2 * tables_ + offStack;
  }

  std::optional<HTMLPageBounds::Cut> beyondBounds() const {
    if (elements_ > HTMLPageBounds::kMaxElements) return HTMLPageBounds::Cut::Elements;
    if (tables_ > HTMLPageBounds::kMaxTableDepth) return HTMLPageBounds::Cut::TableDepth;
    if (depth() > HTMLPageBounds::kMaxDepth) return HTMLPageBounds::Cut::Depth;
    return std::nullopt;
  }

  // The parser opens again, as children of the current element, the formatting elements that
  // a closing block left behind.
  void reconstruct() {
    for (auto& f : formatting_) {
      if (f.onStack) continue;
      f.onStack = true;
      stack_.push_back({f.key.substr(0, f.key.find(' ')), f.id, 0});
      ++elements_;
    }
  }

  void popOne() {
    const Open& top = stack_.back();
    if (top.name == "table") --tables_;
    if (isMarker(top.name)) {
      formatting_.resize(std::min(formatting_.size(), top.formattingMark));
    } else if (top.formatting) {
      for (auto& f : formatting_) {
        if (f.id == top.formatting) f.onStack = false;
      }
    }
    stack_.pop_back();
  }

  // Pops up to and including the innermost open `names` element, if one is open above every
  // `stop` element.
  template <class Stop>
  bool closeInnermost(std::initializer_list<std::string_view> names, Stop stop) {
    for (std::size_t i = stack_.size(); i-- > 0;) {
      if (isOneOf(stack_[i].name, names)) {
        while (stack_.size() > i) popOne();
        return true;
      }
      if (stop(stack_[i].name)) return false;
    }
    return false;
  }

  void closeFor(const std::string& name) {
    auto stopsItemSearch = [](std::string_view n) { return !isPassedByItemSearch(n); };
    auto tableEdge = [](std::string_view n) { return n == "table" || n == "html"; };
    if (closesParagraph(name)) closeInnermost({"p"}, isParagraphScopeEdge);
    if (name == "li") closeInnermost({"li"}, stopsItemSearch);
    if (name == "dd" || name == "dt") closeInnermost({"dd", "dt"}, stopsItemSearch);
    if (name == "td" || name == "th") closeInnermost({"td", "th"}, tableEdge);
    if (name == "tr") closeInnermost({"tr"}, tableEdge);
    if (name == "tbody" || name == "thead" || name == "tfoot") {
      closeInnermost({"tbody", "thead", "tfoot"}, tableEdge);
    }
  }

  void addFormatting(const Tag& tag, Open& open) {
    std::string key = tag.name;
    for (const auto& a : tag.attributes) {
      key += ' ' + a.name + '=' + page_.substr(a.valueBegin, a.valueEnd - a.valueBegin);
    }
    // The parser keeps three alike since the innermost open cell (or other marker).
    std::size_t since = 0;
    for (std::size_t i = stack_.size(); i-- > 0;) {
      if (!isMarker(stack_[i].name)) continue;
      since = stack_[i].formattingMark;
      break;
    }
    int alike = 0;
    for (std::size_t i = formatting_.size(); i-- > since;) {
      if (formatting_[i].key != key || ++alike < 3) continue;
      formatting_.erase(formatting_.begin() + static_cast<long>(i));
      break;
    }
    open.formatting = ++nextId_;
    formatting_.push_back({open.formatting, std::move(key), true});
  }

  void startTag(const Tag& tag) {
    if (tag.name == "html" || tag.name == "head" || tag.name == "body") return;
    closeFor(tag.name);
    // Blocks and table parts open where they are; other elements first open again the
    // formatting a block closed, inside which they then sit.
    if (!closesParagraph(tag.name) && !isTablePart(tag.name)) reconstruct();
    ++elements_;
    // A cell or a row may get its row or body from the parser.
    if (isOneOf(tag.name, {"td", "th", "tr", "col"})) ++elements_;
    if (isVoid(tag.name)) return;
    Open open{tag.name, 0, formatting_.size()};
    if (isFormatting(tag.name)) addFormatting(tag, open);
    if (tag.name == "table") ++tables_;
    stack_.push_back(std::move(open));
  }

  void endTag(const Tag& tag) {
    if (tag.name == "html" || tag.name == "body" || tag.name == "head") return;
    if (isFormatting(tag.name)) {
      for (std::size_t i = formatting_.size(); i-- > 0;) {
        if (formatting_[i].key.substr(0, formatting_[i].key.find(' ')) != tag.name) continue;
        std::uint64_t id = formatting_[i].id;
        formatting_.erase(formatting_.begin() + static_cast<long>(i));
        // Closing it across other elements clones it in places: counted, not followed.
        elements_ += 2;
        for (std::size_t j = stack_.size(); j-- > 0;) {
          if (stack_[j].formatting != id) continue;
          stack_[j].formatting = 0;
          while (stack_.size() > j) popOne();
          break;
        }
        return;
      }
    }
    for (std::size_t i = stack_.size(); i-- > 0;) {
      if (stack_[i].name != tag.name) continue;
      while (stack_.size() > i) popOne();
      return;
    }
    ++elements_;  // an end tag without its element may make an empty one (</p>, </br>)
  }

  // Reads the markup at `at` (a '<'); answers where the text resumes, or sets `cut`.
  std::size_t markup(std::size_t at, std::size_t limit, HTMLPageBounds::Cut* cut) {
    std::string_view rest(page_.data() + at, limit - at);
    if (rest.substr(0, 4) == "<!--") {
      auto close = rest.find("-->", 4);
      return close == std::string_view::npos ? limit : at + close + 3;
    }
    if (rest.size() > 1 && (rest[1] == '!' || rest[1] == '?')) {
      auto close = rest.find('>');
      return close == std::string_view::npos ? limit : at + close + 1;
    }
    bool end = rest.size() > 1 && rest[1] == '/';
    std::size_t nameAt = at + (end ? 2 : 1);
    if (nameAt >= limit || !std::isalpha(static_cast<unsigned char>(page_[nameAt]))) {
      return at + 1;  // a '<' that is text
    }
    Tag tag = readTag(nameAt, limit);
    tag.end = end;
    if (++tokens_ > 4 * HTMLPageBounds::kMaxElements) {
      *cut = HTMLPageBounds::Cut::Elements;
      return at;
    }
    if (end) {
      endTag(tag);
    } else {
      startTag(tag);
    }
    if (auto beyond = beyondBounds()) {
      *cut = *beyond;
      return at;
    }
    if (!end) clampSpans(tag);
    if (!end && isRawText(tag.name)) return skipRawText(tag.name, tag.after, limit);
    if (!end && tag.name == "plaintext") return limit;
    return tag.after;
  }

  Tag readTag(std::size_t nameAt, std::size_t limit) {
    Tag tag;
    std::size_t i = nameAt;
    auto isNameEnd = [&](char c) {
      return std::isspace(static_cast<unsigned char>(c)) || c == '/' || c == '>';
    };
    while (i < limit && !isNameEnd(page_[i])) ++i;
    tag.name = lowered(std::string_view(page_).substr(nameAt, i - nameAt));
    while (i < limit && page_[i] != '>') {
      char c = page_[i];
      if (std::isspace(static_cast<unsigned char>(c)) || c == '/') {
        ++i;
        continue;
      }
      Attribute attribute;
      std::size_t nameBegin = i;
      while (i < limit && !isNameEnd(page_[i]) && page_[i] != '=') ++i;
      if (i == nameBegin) ++i;  // a stray character
      attribute.name = lowered(std::string_view(page_).substr(nameBegin, i - nameBegin));
      while (i < limit && std::isspace(static_cast<unsigned char>(page_[i]))) ++i;
      attribute.valueBegin = attribute.valueEnd = i;
      if (i < limit && page_[i] == '=') {
        ++i;
        while (i < limit && std::isspace(static_cast<unsigned char>(page_[i]))) ++i;
        if (i < limit && (page_[i] == '"' || page_[i] == '\'')) {
          char quote = page_[i++];
          attribute.valueBegin = i;
          while (i < limit && page_[i] != quote) ++i;
          attribute.valueEnd = i;
          if (i < limit) ++i;
        } else {
          attribute.valueBegin = i;
          while (i < limit && !std::isspace(static_cast<unsigned char>(page_[i])) &&
                 page_[i] != '>') {
            ++i;
          }
          attribute.valueEnd = i;
        }
      }
      tag.attributes.push_back(std::move(attribute));
    }
    tag.after = i < limit ? i + 1 : limit;
    return tag;
  }

  // Writes out the tag with its span attributes clamped as browsers clamp them.
  void clampSpans(const Tag& tag) {
    for (const auto& a : tag.attributes) {
      bool colspan = a.name == "colspan";
      if (!colspan && a.name != "rowspan") continue;
      auto value =
          spanValue(std::string_view(page_).substr(a.valueBegin, a.valueEnd - a.valueBegin));
      long clamped = value.value_or(1);
      clamped = std::clamp(clamped, 1L,
                           colspan ? HTMLPageBounds::kMaxColspan : HTMLPageBounds::kMaxRowspan);
      if (value && *value == clamped) continue;
      copyUpTo(a.valueBegin);
      out_ += std::to_string(clamped);
      copied_ = a.valueEnd;
    }
  }

  std::size_t skipRawText(const std::string& name, std::size_t from, std::size_t limit) {
    std::string closing = "</" + name;
    for (std::size_t i = page_.find('<', from); i < limit; i = page_.find('<', i + 1)) {
      if (i + closing.size() > limit) break;
      if (lowered(std::string_view(page_).substr(i, closing.size())) == closing) return i;
    }
    return limit;
  }

  const std::string& page_;
  std::string out_;
  std::size_t copied_ = 0;
  std::vector<Open> stack_;
  std::vector<Formatting> formatting_;
  std::uint64_t nextId_ = 0;
  int tables_ = 0;
  long elements_ = 3;  // html, head and body
  long tokens_ = 0;
};

}  // namespace

HTMLPageBounds::Result HTMLPageBounds::apply(const std::string& html) {
  return Scanner(html).run();
}

}  // namespace platform
