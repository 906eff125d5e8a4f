// A notes page laid out as the web view lays it out, on arbitrary bytes: bounded, parsed and
// laid out, then laid out again with the stylesheets it asked for, up to the rounds the view
// allows. The input is the page, then any number of sheets, each after a line "@@@ <name>"
// (served as http://notes.example/<name>; a sheet asked for but not in the input is one that
// could not be had). Nothing may crash, take longer than its size allows or hold more memory
// than the oracle's bound; what is handed to the layout stays within the page bounds' bytes.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "ResourceOracle.h"
#include "platform/media/HTMLPageBounds.h"
#include "platform/media/WebPageLayout.h"
#include "platform/ui/Font.h"
#include "platform/ui/TextMeasurer.h"

namespace {

constexpr const char* kBase = "http://notes.example/";
constexpr const char* kMarker = "\n@@@ ";

// Splits the input into the page and its sheets by URL.
std::string splitSheets(const std::string& input, std::map<std::string, std::string>* sheets) {
  std::size_t first = input.find(kMarker);
  std::string page = input.substr(0, first);
  for (std::size_t at = first; at != std::string::npos;) {
    std::size_t nameAt = at + std::string(kMarker).size();
    std::size_t lineEnd = input.find('\n', nameAt);
    std::string name =
        input.substr(nameAt, lineEnd == std::string::npos ? std::string::npos : lineEnd - nameAt);
    std::size_t next =
        lineEnd == std::string::npos ? std::string::npos : input.find(kMarker, lineEnd);
    std::string text =
        lineEnd == std::string::npos
            ? std::string()
            : input.substr(lineEnd + 1,
                           next == std::string::npos ? std::string::npos : next - lineEnd - 1);
    (*sheets)[kBase + name] = text;
    at = next;
  }
  return page;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Text is measured as the screens measure it; this also links the text measurer, which tells
  // the leak checker that fontconfig keeps its configuration until the process ends.
  static const double lineHeight =
      platform::TextMeasurer::sizeOfLine("讲义", platform::Font::systemFont(16)).height;
  if (lineHeight <= 0) __builtin_trap();
  ResourceOracle oracle(size);
  std::string input(reinterpret_cast<const char*>(data), size);
  std::map<std::string, std::string> sheets;
  std::string page = splitSheets(input, &sheets);
  if (platform::HTMLPageBounds::apply(page).html.size() > platform::HTMLPageBounds::kMaxBytes) {
    __builtin_trap();
  }
  platform::WebPageLayout::Resources resources;
  for (int round = 0; round < 4; ++round) {
    auto layout =
        platform::WebPageLayout::layOut(page, std::string(kBase) + "page.htm", resources, 320, 212);
    // The bounds' estimate never counts less than the parser builds (litehtml adds its own
    // boxes for text: a word and a space per element at most, one level).
    auto tree = layout->treeSize();
    if (tree.depth > platform::HTMLPageBounds::kMaxDepth + 1) __builtin_trap();
    if (std::getenv("WEBPAGE_FUZZ_VERBOSE")) {
      std::fprintf(stderr, "depth %d elements %ld cut %d\n", tree.depth, tree.elements,
                   static_cast<int>(layout->cut()));
    }
    bool more = false;
    for (const auto& url : layout->wantedStylesheets()) {
      auto it = sheets.find(url);
      resources.stylesheets[url] = it == sheets.end() ? std::string() : it->second;
      more = true;
    }
    for (const auto& url : layout->wantedImages()) {
      resources.images[url] = nullptr;
      more = true;
    }
    if (!more) break;
  }
  return 0;
}
