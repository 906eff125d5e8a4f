#include "platform/media/HTMLDocumentContainer.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <utility>

#include "platform/media/HLSPlaylist.h"
#include "platform/ui/Font.h"
#include "platform/ui/Image.h"

namespace platform {

struct HTMLDocumentContainer::FontFace {
  PangoFontDescription* description = nullptr;
  unsigned decoration = 0;
  int ascent = 0;
  int descent = 0;
  ~FontFace() { pango_font_description_free(description); }
};

namespace {

cairo_t* cairoOf(litehtml::uint_ptr hdc) { return reinterpret_cast<cairo_t*>(hdc); }

void setColor(cairo_t* cr, const litehtml::web_color& c) {
  cairo_set_source_rgba(cr, c.red / 255.0, c.green / 255.0, c.blue / 255.0, c.alpha / 255.0);
}

bool isRemote(const std::string& url) {
  std::string scheme = url.substr(0, url.find(':'));
  std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return scheme == "http" || scheme == "https";
}

// The length of the UTF-8 sequence starting with `lead` (1 for a stray byte).
int sequenceLength(unsigned char lead) {
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC0) return 2;
  return 1;
}

unsigned codepoint(const char* s, int length) {
  auto byte = [s](int i) { return static_cast<unsigned char>(s[i]); };
  if (length == 1) return byte(0);
  unsigned value = byte(0) & (0xFF >> (length + 1));
  for (int i = 1; i < length; ++i) value = (value << 6) | (byte(i) & 0x3F);
  return value;
}

// Scripts written without spaces between words, where a line may break between any two
// characters: CJK ideographs and punctuation, kana, Hangul, full-width forms.
bool breaksAnywhere(unsigned c) {
  return (c >= 0x2E80 && c <= 0x9FFF) || (c >= 0xAC00 && c <= 0xD7AF) ||
         (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFF00 && c <= 0xFFEF) ||
         (c >= 0x20000 && c <= 0x3FFFF);
}

PangoLayout* layoutFor(PangoContext* context, const char* text, PangoFontDescription* font) {
  PangoLayout* layout = pango_layout_new(context);
  pango_layout_set_font_description(layout, font);
  pango_layout_set_text(layout, text, -1);
  return layout;
}

}  // namespace

HTMLDocumentContainer::HTMLDocumentContainer(std::string pageURL)
    : pageURL_(std::move(pageURL)), baseURL_(pageURL_) {
  // Measured as the UI layer draws: 72 dots per inch (a pixel is a point), no hinting, so the
  // widths litehtml lays out with are the widths drawn at any scale.
  // A font map of its own: pango's default one belongs to the thread that asks, and a page is
  // laid out on a worker and drawn on the main thread.
  fontMap_ = pango_cairo_font_map_new();
  measuring_ = pango_font_map_create_context(fontMap_);
  pango_cairo_context_set_resolution(measuring_, 72);
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
  pango_cairo_context_set_font_options(measuring_, options);
  cairo_font_options_destroy(options);
}

HTMLDocumentContainer::~HTMLDocumentContainer() {
  g_object_unref(measuring_);
  g_object_unref(fontMap_);
}

void HTMLDocumentContainer::setViewportSize(int width, int height) {
  viewportWidth_ = width;
  viewportHeight_ = height;
}

std::vector<std::string> HTMLDocumentContainer::takeWantedStylesheets() {
  return std::exchange(wantedSheets_, {});
}

std::vector<std::string> HTMLDocumentContainer::takeWantedImages() {
  return std::exchange(wantedImages_, {});
}

void HTMLDocumentContainer::setStylesheet(const std::string& url, std::string text) {
  asked_.erase(url);
  stylesheets_[url] = std::move(text);
}

void HTMLDocumentContainer::setImage(const std::string& url, std::shared_ptr<Image> image) {
  asked_.erase(url);
  images_[url] = std::move(image);
}

std::string HTMLDocumentContainer::resolve(const std::string& reference,
                                           const std::string& base) const {
  return HLSPlaylist::resolve(base.empty() ? baseURL_ : base, reference);
}

bool HTMLDocumentContainer::allows(const std::string& url) const {
  return !isRemote(pageURL_) || isRemote(url);
}

litehtml::uint_ptr HTMLDocumentContainer::create_font(const char* faceName, int size, int weight,
                                                      litehtml::font_style italic,
                                                      unsigned int decoration,
                                                      litehtml::font_metrics* fm) {
  // Every page draws in the system face, which covers Chinese; a monospace request keeps
  // monospace first.
  std::string families = Font::systemFont(size).pangoDescription();
  if (faceName && std::string(faceName).find("monospace") != std::string::npos) {
    families = "monospace," + families;
  }
  auto face = std::make_unique<FontFace>();
  face->description = pango_font_description_from_string(families.c_str());
  pango_font_description_set_weight(face->description, static_cast<PangoWeight>(weight));
  if (italic == litehtml::fontStyleItalic) {
    pango_font_description_set_style(face->description, PANGO_STYLE_ITALIC);
  }
  face->decoration = decoration;
  PangoFontMetrics* metrics = pango_context_get_metrics(measuring_, face->description, nullptr);
  face->ascent = PANGO_PIXELS_CEIL(pango_font_metrics_get_ascent(metrics));
  face->descent = PANGO_PIXELS_CEIL(pango_font_metrics_get_descent(metrics));
  pango_font_metrics_unref(metrics);
  if (fm) {
    fm->ascent = face->ascent;
    fm->descent = face->descent;
    fm->height = face->ascent + face->descent;
    fm->x_height = face->ascent / 2;
    fm->draw_spaces = decoration != litehtml::font_decoration_none;
  }
  litehtml::uint_ptr handle = nextFont_++;
  fonts_[handle] = std::move(face);
  return handle;
}

void HTMLDocumentContainer::delete_font(litehtml::uint_ptr font) { fonts_.erase(font); }

int HTMLDocumentContainer::text_width(const char* text, litehtml::uint_ptr font) {
  auto it = fonts_.find(font);
  if (it == fonts_.end() || !text) return 0;
  PangoLayout* layout = layoutFor(measuring_, text, it->second->description);
  PangoRectangle logical;
  pango_layout_get_extents(layout, nullptr, &logical);
  g_object_unref(layout);
  return PANGO_PIXELS_CEIL(logical.width);
}

void HTMLDocumentContainer::draw_text(litehtml::uint_ptr hdc, const char* text,
                                      litehtml::uint_ptr font, litehtml::web_color color,
                                      const litehtml::position& pos) {
  auto it = fonts_.find(font);
  if (it == fonts_.end() || !text) return;
  const FontFace& face = *it->second;
  cairo_t* cr = cairoOf(hdc);
  cairo_save(cr);
  clipTo(hdc);
  PangoLayout* layout = layoutFor(measuring_, text, face.description);
  double baseline = pos.y + face.ascent;
  cairo_move_to(cr, pos.x, baseline - pango_layout_get_baseline(layout) / double(PANGO_SCALE));
  setColor(cr, color);
  pango_cairo_show_layout(cr, layout);
  g_object_unref(layout);
  cairo_set_line_width(cr, 1);
  auto rule = [&](double y) {
    cairo_move_to(cr, pos.x, y);
    cairo_line_to(cr, pos.x + pos.width, y);
    cairo_stroke(cr);
  };
  if (face.decoration & litehtml::font_decoration_underline) rule(baseline + 1.5);
  if (face.decoration & litehtml::font_decoration_linethrough) rule(baseline - face.ascent / 3.0);
  if (face.decoration & litehtml::font_decoration_overline) rule(pos.y + 0.5);
  cairo_restore(cr);
}

int HTMLDocumentContainer::pt_to_px(int pt) const {
  return static_cast<int>(std::lround(pt * 96.0 / 72.0));
}

void HTMLDocumentContainer::draw_list_marker(litehtml::uint_ptr hdc,
                                             const litehtml::list_marker& marker) {
  if (marker.marker_type != litehtml::list_style_type_disc &&
      marker.marker_type != litehtml::list_style_type_circle &&
      marker.marker_type != litehtml::list_style_type_square) {
    return;
  }
  cairo_t* cr = cairoOf(hdc);
  cairo_save(cr);
  clipTo(hdc);
  setColor(cr, marker.color);
  const litehtml::position& p = marker.pos;
  if (marker.marker_type == litehtml::list_style_type_square) {
    cairo_rectangle(cr, p.x, p.y, p.width, p.height);
    cairo_fill(cr);
  } else {
    cairo_new_sub_path(cr);
    cairo_arc(cr, p.x + p.width / 2.0, p.y + p.height / 2.0, p.width / 2.0, 0, 2 * M_PI);
    if (marker.marker_type == litehtml::list_style_type_disc) {
      cairo_fill(cr);
    } else {
      cairo_set_line_width(cr, 1);
      cairo_stroke(cr);
    }
  }
  cairo_restore(cr);
}

void HTMLDocumentContainer::load_image(const char* src, const char* baseurl, bool) {
  if (!src || !*src) return;
  std::string url = resolve(src, baseurl ? baseurl : "");
  if (images_.count(url) || asked_.count(url) || !allows(url)) return;
  if (images_.size() + wantedImages_.size() >= kMaxImages) return;
  asked_.insert(url);
  wantedImages_.push_back(url);
}

const Image* HTMLDocumentContainer::imageFor(const char* src, const char* baseurl) const {
  if (!src || !*src) return nullptr;
  auto it = images_.find(resolve(src, baseurl ? baseurl : ""));
  if (it == images_.end() || !it->second || it->second->isMissing()) return nullptr;
  return it->second.get();
}

void HTMLDocumentContainer::get_image_size(const char* src, const char* baseurl,
                                           litehtml::size& sz) {
  const Image* image = imageFor(src, baseurl);
  sz.width = image ? static_cast<int>(std::lround(image->size().width)) : 0;
  sz.height = image ? static_cast<int>(std::lround(image->size().height)) : 0;
}

void HTMLDocumentContainer::draw_background(litehtml::uint_ptr hdc,
                                            const litehtml::background_paint& bg) {
  cairo_t* cr = cairoOf(hdc);
  cairo_save(cr);
  clipTo(hdc);
  const litehtml::position& box = bg.clip_box;
  cairo_rectangle(cr, box.x, box.y, box.width, box.height);
  cairo_clip(cr);
  if (bg.color.alpha > 0) {
    setColor(cr, bg.color);
    cairo_paint(cr);
  }
  const Image* image = imageFor(bg.image.c_str(), bg.baseurl.c_str());
  if (image && bg.image_size.width > 0 && bg.image_size.height > 0) {
    // litehtml hands the picture's place already worked out from the origin box.
    double x = bg.position_x;
    double y = bg.position_y;
    double sx = bg.image_size.width / (image->size().width * image->scale());
    double sy = bg.image_size.height / (image->size().height * image->scale());
    cairo_translate(cr, x, y);
    cairo_scale(cr, sx, sy);
    cairo_set_source_surface(cr, image->surface(), 0, 0);
    if (bg.repeat == litehtml::background_repeat_no_repeat) {
      // Padded, so scaling does not blend the picture's edge with the transparency beyond it.
      cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
      cairo_rectangle(cr, 0, 0, bg.image_size.width / sx, bg.image_size.height / sy);
      cairo_fill(cr);
    } else {
      cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_REPEAT);
      cairo_paint(cr);
    }
  }
  cairo_restore(cr);
}

void HTMLDocumentContainer::draw_borders(litehtml::uint_ptr hdc, const litehtml::borders& borders,
                                         const litehtml::position& p, bool) {
  cairo_t* cr = cairoOf(hdc);
  cairo_save(cr);
  clipTo(hdc);
  auto side = [cr](const litehtml::border& b, double x, double y, double w, double h) {
    if (b.width <= 0 || b.style == litehtml::border_style_none ||
        b.style == litehtml::border_style_hidden) {
      return;
    }
    setColor(cr, b.color);
    cairo_rectangle(cr, x, y, w, h);
    cairo_fill(cr);
  };
  side(borders.top, p.x, p.y, p.width, borders.top.width);
  side(borders.bottom, p.x, p.bottom() - borders.bottom.width, p.width, borders.bottom.width);
  side(borders.left, p.x, p.y, borders.left.width, p.height);
  side(borders.right, p.right() - borders.right.width, p.y, borders.right.width, p.height);
  cairo_restore(cr);
}

void HTMLDocumentContainer::set_base_url(const char* base_url) {
  if (base_url && *base_url) baseURL_ = HLSPlaylist::resolve(pageURL_, base_url);
}

void HTMLDocumentContainer::transform_text(litehtml::tstring& text, litehtml::text_transform tt) {
  bool start = true;
  for (char& c : text) {
    auto u = static_cast<unsigned char>(c);
    if (tt == litehtml::text_transform_uppercase ||
        (tt == litehtml::text_transform_capitalize && start)) {
      c = static_cast<char>(std::toupper(u));
    } else if (tt == litehtml::text_transform_lowercase) {
      c = static_cast<char>(std::tolower(u));
    }
    start = std::isspace(u) != 0;
  }
}

void HTMLDocumentContainer::import_css(litehtml::tstring& text, const litehtml::tstring& url,
                                       litehtml::tstring& baseurl) {
  std::string absolute = resolve(url, baseurl);
  // litehtml parses an imported sheet as soon as it is answered, so the sheet that imports
  // this one is the base it names: the chain of imports is followed back from there.
  std::vector<std::string> chain = importChain(baseurl);
  baseurl = absolute;
  text.clear();
  if (std::find(chain.begin(), chain.end(), absolute) != chain.end()) return;
  if (chain.size() >= kMaxImportDepth || imports_ >= kMaxImports) return;
  auto it = stylesheets_.find(absolute);
  if (it != stylesheets_.end()) {
    ++imports_;
    chain.push_back(absolute);
    importChains_[absolute] = std::move(chain);
    text = it->second;
    return;
  }
  if (asked_.count(absolute) || !allows(absolute)) return;
  if (stylesheets_.size() + wantedSheets_.size() >= kMaxStylesheets) return;
  asked_.insert(absolute);
  wantedSheets_.push_back(absolute);
}

std::vector<std::string> HTMLDocumentContainer::importChain(const std::string& sheetURL) const {
  auto it = importChains_.find(sheetURL);
  return it == importChains_.end() ? std::vector<std::string>{} : it->second;
}

void HTMLDocumentContainer::set_clip(const litehtml::position& pos,
                                     const litehtml::border_radiuses&, bool, bool) {
  clips_.push_back(pos);
}

void HTMLDocumentContainer::del_clip() {
  if (!clips_.empty()) clips_.pop_back();
}

void HTMLDocumentContainer::clipTo(litehtml::uint_ptr hdc) const {
  cairo_t* cr = cairoOf(hdc);
  for (const auto& clip : clips_) {
    cairo_rectangle(cr, clip.x, clip.y, clip.width, clip.height);
    cairo_clip(cr);
  }
}

void HTMLDocumentContainer::get_client_rect(litehtml::position& client) const {
  client = litehtml::position(0, 0, viewportWidth_, viewportHeight_);
}

void HTMLDocumentContainer::get_media_features(litehtml::media_features& media) const {
  media.type = litehtml::media_type_screen;
  media.width = media.device_width = viewportWidth_;
  media.height = media.device_height = viewportHeight_;
  media.color = 8;
  media.monochrome = 0;
  media.color_index = 256;
  media.resolution = 96;
}

void HTMLDocumentContainer::get_language(litehtml::tstring& language,
                                         litehtml::tstring& culture) const {
  language = "zh";
  culture = "CN";
}

void HTMLDocumentContainer::split_text(const char* text,
                                       const std::function<void(const char*)>& on_word,
                                       const std::function<void(const char*)>& on_space) {
  std::string word;
  auto flush = [&] {
    if (!word.empty()) on_word(word.c_str());
    word.clear();
  };
  for (const char* p = text; *p;) {
    int length = sequenceLength(static_cast<unsigned char>(*p));
    for (int i = 1; i < length; ++i) {
      if (!p[i]) length = i;  // a sequence cut short by the end of the text
    }
    std::string character(p, length);
    if (length == 1 && std::isspace(static_cast<unsigned char>(*p))) {
      flush();
      on_space(character.c_str());
    } else if (breaksAnywhere(codepoint(p, length))) {
      flush();
      on_word(character.c_str());
    } else {
      word += character;
    }
    p += length;
  }
  flush();
}

}  // namespace platform
