#pragma once
// WebPageLayout: one page laid out to a width with the stylesheets and pictures it has so far,
// ready to draw. It is made off the main thread (parsing and layout of a page from outside take
// time the run loop cannot give) and then handed to the main thread, which alone draws it; it is
// never used by two threads at once. The page is bounded first (`HTMLPageBounds`): what goes
// beyond a bound is not laid out at all, what came before it is.
//
// litehtml asks for stylesheets and pictures while it parses; the ones it lacked are listed in
// `wantedStylesheets` and `wantedImages`, for the owner to fetch and lay the page out again.

#include <cairo.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/media/HTMLPageBounds.h"

namespace litehtml {
class context;
class document;
}  // namespace litehtml

namespace platform {

class HTMLDocumentContainer;
class Image;

class WebPageLayout {
 public:
  // What has been fetched for the page, by absolute URL; an empty text or a null picture is one
  // that could not be had.
  struct Resources {
    std::map<std::string, std::string> stylesheets;
    std::map<std::string, std::shared_ptr<Image>> images;
  };

  // `html` from `pageURL`, laid out for a viewport of `width` x `height` points. The process's
  // exit waits for the layouts under way (for a while at most): the text shaping they run on uses
  // data its libraries free as the process ends.
  static std::unique_ptr<WebPageLayout> layOut(const std::string& html, const std::string& pageURL,
                                               const Resources& resources, int width, int height);
  // Makes the process's exit wait for the layouts under way; each layout sees to it, and a view
  // that lays pages out calls it on the main thread before its first layout, so that the first
  // one is covered too. The first call lays a small page out.
  static void prepareForExit();
  // Layouts running now, on any thread (for tests).
  static int layoutsInFlight();
  ~WebPageLayout();
  WebPageLayout(const WebPageLayout&) = delete;
  WebPageLayout& operator=(const WebPageLayout&) = delete;

  // The width it was laid out for, and the width the page took (wider when it does not fit).
  int viewportWidth() const { return viewportWidth_; }
  int pageWidth() const;
  int pageHeight() const;
  const std::string& title() const;
  // The bound that cut the page, if one did.
  HTMLPageBounds::Cut cut() const { return cut_; }
  // The depth and the number of elements of the tree litehtml built (for tests and fuzzing).
  struct TreeSize {
    int depth = 0;
    long elements = 0;
  };
  TreeSize treeSize() const;
  std::vector<std::string> wantedStylesheets() const { return wantedSheets_; }
  std::vector<std::string> wantedImages() const { return wantedImages_; }

  // Draws the part of the page within `clipWidth` x `clipHeight` at the origin of `cr`.
  void draw(cairo_t* cr, int clipWidth, int clipHeight);

 private:
  WebPageLayout() = default;
  static std::unique_ptr<WebPageLayout> layOutNow(const std::string& html,
                                                  const std::string& pageURL,
                                                  const Resources& resources, int width,
                                                  int height);

  int viewportWidth_ = 0;
  HTMLPageBounds::Cut cut_ = HTMLPageBounds::Cut::None;
  std::vector<std::string> wantedSheets_;
  std::vector<std::string> wantedImages_;
  // The document lays out against the container and the context, which it uses until its end:
  // it is declared last, so it goes first.
  std::unique_ptr<litehtml::context> styleContext_;
  std::unique_ptr<HTMLDocumentContainer> container_;
  std::shared_ptr<litehtml::document> document_;
};

}  // namespace platform
