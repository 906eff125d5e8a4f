// A lecture's notes page on arbitrary bytes. The first line is an XPath query run over the rest
// as HTML and as XML, with the element accessors on what it finds; the rest is also rewritten as
// the file list does (scripts, style sheets, images), and its resource references are replaced
// by the linear replacer, checked against a plain search that tries every place in turn. Nothing
// may crash, every listed resource gets one plain stored name, and the two replacements agree.

#include <libxml/xmlerror.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "download/DownloadList.h"
#include "download/LectureURL.h"
#include "download/TextReplacer.h"
#include "download/XPathDocument.h"

namespace {

void ignoreMessage(void*, const char*, ...) {}

void walk(const std::shared_ptr<XPathElement>& element, int depth) {
  element->tagName();
  element->content();
  element->attributes();
  element->text();
  element->firstChildWithClassName("c");
  if (depth >= 3) return;
  int visited = 0;
  for (const auto& child : element->children()) {
    if (child->parent() != element) __builtin_trap();
    if (++visited > 8) break;
    walk(child, depth + 1);
  }
}

// Leftmost, then longest, replacement by trying every place in turn.
std::string plainReplace(const std::vector<std::pair<std::string, std::string>>& pairs,
                         const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const std::pair<std::string, std::string>* best = nullptr;
    for (const auto& pair : pairs) {
      if (pair.first.empty() || text.compare(i, pair.first.size(), pair.first) != 0) continue;
      if (!best || pair.first.size() > best->first.size()) best = &pair;
    }
    if (best) {
      out += best->second;
      i += best->first.size();
    } else {
      out += text[i++];
    }
  }
  return out;
}

void checkReplacer(const std::string& text) {
  // Patterns: the pieces of the first 64 bytes between spaces; each replaced by its index.
  std::vector<std::pair<std::string, std::string>> pairs;
  std::string head = text.substr(0, 64);
  for (std::size_t start = 0; start <= head.size();) {
    std::size_t end = head.find(' ', start);
    if (end == std::string::npos) end = head.size();
    std::string piece = head.substr(start, end - start);
    bool known = false;
    for (const auto& pair : pairs) known = known || pair.first == piece;
    if (!piece.empty() && !known)
      pairs.emplace_back(piece, "<" + std::to_string(pairs.size()) + ">");
    start = end + 1;
  }
  TextReplacer replacer;
  for (const auto& [from, to] : pairs) replacer.add(from, to);
  if (replacer.apply(text) != plainReplace(pairs, text)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool quiet = [] {
    // The XML reader reports every error of a broken document on the console otherwise.
    xmlSetGenericErrorFunc(nullptr, ignoreMessage);
    return true;
  }();
  (void)quiet;
  std::string input(reinterpret_cast<const char*>(data), size);
  auto newline = input.find('\n');
  std::string query = newline == std::string::npos ? "//img" : input.substr(0, newline);
  std::string page = newline == std::string::npos ? input : input.substr(newline + 1);
  if (query.size() > 256) return 0;

  platform::Bytes bytes(page.begin(), page.end());
  for (bool isXML : {false, true}) {
    auto document = XPathDocument::documentWithData(bytes, isXML);
    int visited = 0;
    for (const auto& element : document->searchWithXPathQuery(query)) {
      if (element->parent()) __builtin_trap();
      if (++visited > 16) break;
      walk(element, 0);
    }
  }

  auto list = DownloadList::create();
  list->rewritePage("http://notes.example/n/2014/9001/page.html", page);
  if (list->fileNames().size() != list->arryList().size()) __builtin_trap();
  for (const auto& name : list->fileNames()) {
    if (!LectureURL::isStorableFileName(name) || name.size() > LectureURL::kMaxFileNameBytes ||
        name.find('/') != std::string::npos || name == DownloadList::kPageFileName)
      __builtin_trap();
  }
  checkReplacer(page);
  return 0;
}
