#include "platform/media/WebPageLayout.h"

#include <litehtml/litehtml.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <utility>
#include <vector>

#include "platform/dispatch/Queue.h"
#include "platform/foundation/Mutex.h"
#include "platform/media/HTMLDocumentContainer.h"

namespace platform {

namespace {

// The browser's own defaults for the elements pages use, beneath every page's stylesheets.
constexpr const char* kDefaultStyle = R"(
html, address, blockquote, body, dd, div, dl, dt, fieldset, form, frame, frameset, h1, h2, h3,
h4, h5, h6, noframes, ol, p, ul, center, dir, hr, menu, pre, header, footer, section, article,
nav, aside, figure, figcaption, main { display: block; }
head, script, style, title, link, meta, noscript, template { display: none; }
html { background-color: white; color: black; }
body { margin: 8px; line-height: normal; }
p, blockquote, ul, ol, dl, figure, pre { margin-top: 1em; margin-bottom: 1em; }
h1 { font-size: 2em; margin: 0.67em 0; font-weight: bold; }
h2 { font-size: 1.5em; margin: 0.83em 0; font-weight: bold; }
h3 { font-size: 1.17em; margin: 1em 0; font-weight: bold; }
h4 { margin: 1.33em 0; font-weight: bold; }
h5 { font-size: 0.83em; margin: 1.67em 0; font-weight: bold; }
h6 { font-size: 0.67em; margin: 2.33em 0; font-weight: bold; }
b, strong, th { font-weight: bold; }
i, em, cite, var, address { font-style: italic; }
pre, code, kbd, samp, tt { font-family: monospace; }
pre { white-space: pre; }
u, ins { text-decoration: underline; }
s, strike, del { text-decoration: line-through; }
small { font-size: 0.83em; }
big { font-size: 1.17em; }
sub { vertical-align: sub; font-size: 0.83em; }
sup { vertical-align: super; font-size: 0.83em; }
a:link, a { color: #0000ee; text-decoration: underline; }
center { text-align: center; }
img { display: inline-block; }
br { display: block; }
hr { border: 1px inset #808080; margin: 0.5em auto; }
ul, ol, menu, dir { padding-left: 40px; }
ul { list-style-type: disc; }
ol { list-style-type: decimal; }
li { display: list-item; }
ul ul { list-style-type: circle; }
blockquote { margin-left: 40px; margin-right: 40px; }
table { display: table; border-spacing: 2px; }
thead { display: table-header-group; }
tbody { display: table-row-group; }
tfoot { display: table-footer-group; }
tr { display: table-row; }
td, th { display: table-cell; padding: 1px; }
caption { display: table-caption; text-align: center; }
)";

// Latin and Chinese text in the faces and styles the default stylesheet gives.
constexpr const char* kSamplePage =
    "<html><body><h1>Notes 讲义</h1><p>Text 文字 <b>bold 粗</b> <i>italic</i> "
    "<code>code 代码</code></p></body></html>";

// How long the process's exit waits for layouts under way: a bounded page lays out in far less.
constexpr auto kExitWait = std::chrono::seconds(10);

// The layouts running now. Never destroyed: layouts may still end while the process exits.
struct InFlight {
  Mutex mutex;
  std::condition_variable ended;
  int count GUARDED_BY(mutex) = 0;
};

InFlight& inFlight() {
  static auto* layouts = new InFlight;
  return *layouts;
}

// Counts one layout from its start to its end.
class InFlightScope {
 public:
  InFlightScope() {
    MutexLock lock(inFlight().mutex);
    ++inFlight().count;
  }
  ~InFlightScope() {
    MutexLock lock(inFlight().mutex);
    if (--inFlight().count == 0) inFlight().ended.notify_all();
  }
  InFlightScope(const InFlightScope&) = delete;
  InFlightScope& operator=(const InFlightScope&) = delete;
};

// Made static, so that its end runs among the process's exit handlers, in reverse order of their
// making: it waits for the layouts under way before the handlers made before it run, among them
// the text-shaping library's, which frees the language and shaper tables a layout reads.
struct ExitWait {
  ExitWait() = default;
  ExitWait(const ExitWait&) = delete;
  ExitWait& operator=(const ExitWait&) = delete;
  ~ExitWait() {
    InFlight& layouts = inFlight();
    MutexLock lock(layouts.mutex);
    layouts.ended.wait_for(lock.native(), kExitWait,
                           [&]() REQUIRES(layouts.mutex) { return layouts.count == 0; });
  }
};

}  // namespace

int WebPageLayout::layoutsInFlight() {
  MutexLock lock(inFlight().mutex);
  return inFlight().count;
}

std::unique_ptr<WebPageLayout> WebPageLayout::layOut(const std::string& html,
                                                     const std::string& pageURL,
                                                     const Resources& resources, int width,
                                                     int height) {
  prepareForExit();
  InFlightScope counted;
  return layOutNow(html, pageURL, resources, width, height);
}

// Exit handlers run in reverse order of their making, and the text-shaping library makes its own
// as it first uses each of its tables. So a sample page with the scripts and styles pages use is
// laid out first, then the wait is made: it runs before the handlers that free those tables.
void WebPageLayout::prepareForExit() {
  static dispatch::OnceFlag prepared;
  dispatch::once(prepared, [] {
    layOutNow(kSamplePage, "about:blank", {}, 200, 100);
    static ExitWait wait;
  });
}

std::unique_ptr<WebPageLayout> WebPageLayout::layOutNow(const std::string& html,
                                                        const std::string& pageURL,
                                                        const Resources& resources, int width,
                                                        int height) {
  std::unique_ptr<WebPageLayout> page(new WebPageLayout());
  HTMLPageBounds::Result bounded = HTMLPageBounds::apply(html);
  page->cut_ = bounded.cut;
  page->viewportWidth_ = width;
  page->styleContext_ = std::make_unique<litehtml::context>();
  page->styleContext_->load_master_stylesheet(kDefaultStyle);
  page->container_ = std::make_unique<HTMLDocumentContainer>(pageURL);
  for (const auto& [url, text] : resources.stylesheets) page->container_->setStylesheet(url, text);
  for (const auto& [url, image] : resources.images) page->container_->setImage(url, image);
  page->container_->setViewportSize(width, height);
  page->document_ = litehtml::document::createFromUTF8(bounded.html.c_str(), page->container_.get(),
                                                       page->styleContext_.get());
  page->wantedSheets_ = page->container_->takeWantedStylesheets();
  page->wantedImages_ = page->container_->takeWantedImages();
  if (page->document_) page->document_->render(width);
  return page;
}

WebPageLayout::~WebPageLayout() {
  // The document hands its fonts back to the container as it ends: it goes first.
  document_.reset();
  container_.reset();
}

int WebPageLayout::pageWidth() const { return document_ ? document_->width() : 0; }

int WebPageLayout::pageHeight() const { return document_ ? document_->height() : 0; }

WebPageLayout::TreeSize WebPageLayout::treeSize() const {
  TreeSize size;
  if (!document_ || !document_->root()) return size;
  // Walked without recursion: measuring a tree must not depend on how deep it is.
  std::vector<std::pair<litehtml::element::ptr, int>> pending{{document_->root(), 1}};
  while (!pending.empty()) {
    auto [element, depth] = pending.back();
    pending.pop_back();
    ++size.elements;
    size.depth = std::max(size.depth, depth);
    for (std::size_t i = 0; i < element->get_children_count(); ++i) {
      pending.emplace_back(element->get_child(static_cast<int>(i)), depth + 1);
    }
  }
  return size;
}

const std::string& WebPageLayout::title() const { return container_->caption(); }

void WebPageLayout::draw(cairo_t* cr, int clipWidth, int clipHeight) {
  if (!document_) return;
  litehtml::position clip(0, 0, clipWidth, clipHeight);
  document_->draw(reinterpret_cast<litehtml::uint_ptr>(cr), 0, 0, &clip);
}

}  // namespace platform
