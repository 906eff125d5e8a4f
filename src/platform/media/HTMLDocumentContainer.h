#pragma once
// HTMLDocumentContainer: what litehtml asks of its host to lay out and draw one page, answered
// with the UI layer's means: text measured and drawn by pango in the system face (so Chinese
// pages get real glyphs), boxes and borders drawn with cairo, pictures held as `Image`s decoded
// by gdk-pixbuf.
//
// The container never fetches anything itself: litehtml asks for stylesheets and pictures while
// it parses and lays out, synchronously, and the page must not wait on the network there. A
// resource the container does not hold yet is noted as wanted (once), and the owner fetches it
// and hands it in with `setStylesheet` or `setImage`, then parses or lays out again. A page that
// came from the network may use only resources on the network, never this device's files.
//
// Used by one thread at a time: a page is laid out on a worker and drawn on the main thread. The
// drawing handle litehtml passes around is the `cairo_t*` of the drawing.
//
// Stylesheets: a sheet already on the chain of imports that leads to it answers empty (a sheet
// importing itself, or two importing each other, would otherwise be parsed without end), as
// does one deeper than `kMaxImportDepth`; a page parses at most `kMaxImports` sheets and asks for
// at most `kMaxStylesheets` different ones, and for at most `kMaxImages` pictures.

#include <litehtml/litehtml.h>

#include <cstddef>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

typedef struct _PangoContext PangoContext;
typedef struct _PangoFontMap PangoFontMap;

namespace platform {

class Image;

class HTMLDocumentContainer final : public litehtml::document_container {
 public:
  static constexpr std::size_t kMaxImportDepth = 8;
  static constexpr int kMaxImports = 64;
  static constexpr std::size_t kMaxStylesheets = 32;
  static constexpr std::size_t kMaxImages = 256;

  // `pageURL` is where the page came from: relative references resolve against it.
  explicit HTMLDocumentContainer(std::string pageURL);
  ~HTMLDocumentContainer();
  HTMLDocumentContainer(const HTMLDocumentContainer&) = delete;
  HTMLDocumentContainer& operator=(const HTMLDocumentContainer&) = delete;

  // The size pages are laid out for, in points (CSS pixels).
  void setViewportSize(int width, int height);

  // Resources asked for since the last call that are neither held nor handed out before.
  std::vector<std::string> takeWantedStylesheets();
  std::vector<std::string> takeWantedImages();
  // A fetched resource by its absolute URL; an empty text or a null image stands for one that
  // could not be had, so it is not wanted again.
  void setStylesheet(const std::string& url, std::string text);
  void setImage(const std::string& url, std::shared_ptr<Image> image);

  // The page's <title>, once parsed.
  const std::string& caption() const { return caption_; }
  // `reference` made absolute against `base` (the page's base when empty).
  std::string resolve(const std::string& reference, const std::string& base = {}) const;

  // litehtml's questions.
  litehtml::uint_ptr create_font(const char* faceName, int size, int weight,
                                 litehtml::font_style italic, unsigned int decoration,
                                 litehtml::font_metrics* fm) override;
  void delete_font(litehtml::uint_ptr font) override;
  int text_width(const char* text, litehtml::uint_ptr font) override;
  void draw_text(litehtml::uint_ptr hdc, const char* text, litehtml::uint_ptr font,
                 litehtml::web_color color, const litehtml::position& pos) override;
  int pt_to_px(int pt) const override;
  int get_default_font_size() const override { return 16; }
  const char* get_default_font_name() const override { return "sans-serif"; }
  void draw_list_marker(litehtml::uint_ptr hdc, const litehtml::list_marker& marker) override;
  void load_image(const char* src, const char* baseurl, bool redraw_on_ready) override;
  void get_image_size(const char* src, const char* baseurl, litehtml::size& sz) override;
  void draw_background(litehtml::uint_ptr hdc, const litehtml::background_paint& bg) override;
  void draw_borders(litehtml::uint_ptr hdc, const litehtml::borders& borders,
                    const litehtml::position& draw_pos, bool root) override;
  void set_caption(const char* caption) override { caption_ = caption ? caption : ""; }
  void set_base_url(const char* base_url) override;
  void link(const std::shared_ptr<litehtml::document>&, const litehtml::element::ptr&) override {}
  void on_anchor_click(const char*, const litehtml::element::ptr&) override {}
  void set_cursor(const char*) override {}
  void transform_text(litehtml::tstring& text, litehtml::text_transform tt) override;
  void import_css(litehtml::tstring& text, const litehtml::tstring& url,
                  litehtml::tstring& baseurl) override;
  void set_clip(const litehtml::position& pos, const litehtml::border_radiuses& radius,
                bool valid_x, bool valid_y) override;
  void del_clip() override;
  void get_client_rect(litehtml::position& client) const override;
  std::shared_ptr<litehtml::element> create_element(
      const char*, const litehtml::string_map&,
      const std::shared_ptr<litehtml::document>&) override {
    return nullptr;
  }
  void get_media_features(litehtml::media_features& media) const override;
  void get_language(litehtml::tstring& language, litehtml::tstring& culture) const override;
  // Breaks text into words at spaces, and around every CJK character, so Chinese, which has no
  // spaces, still wraps at the line's end.
  void split_text(const char* text, const std::function<void(const char*)>& on_word,
                  const std::function<void(const char*)>& on_space) override;

 private:
  struct FontFace;

  bool allows(const std::string& url) const;
  // The sheets whose imports led to `sheetURL`, outermost first, ending with it; empty for the
  // page's own links.
  std::vector<std::string> importChain(const std::string& sheetURL) const;
  const Image* imageFor(const char* src, const char* baseurl) const;
  void clipTo(litehtml::uint_ptr hdc) const;

  std::string pageURL_;
  std::string baseURL_;
  std::string caption_;
  int viewportWidth_ = 0;
  int viewportHeight_ = 0;
  PangoFontMap* fontMap_ = nullptr;
  PangoContext* measuring_ = nullptr;
  std::map<litehtml::uint_ptr, std::unique_ptr<FontFace>> fonts_;
  litehtml::uint_ptr nextFont_ = 1;
  std::map<std::string, std::string> stylesheets_;
  std::map<std::string, std::shared_ptr<Image>> images_;
  std::set<std::string> asked_;  // wanted and handed out, not yet set
  std::vector<std::string> wantedSheets_;
  std::vector<std::string> wantedImages_;
  std::map<std::string, std::vector<std::string>> importChains_;
  int imports_ = 0;
  std::vector<litehtml::position> clips_;
};

}  // namespace platform
