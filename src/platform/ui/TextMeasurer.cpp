#include "platform/ui/TextMeasurer.h"

#include <pango/pangocairo.h>

#include <cmath>

// fontconfig keeps the font configuration it loads for pango until the process ends; the leak
// checker of sanitizer builds is told so, instead of reporting it in every test that draws text.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace platform {

namespace {

PangoWrapMode wrapMode(LineBreakMode mode) {
  switch (mode) {
    case LineBreakMode::CharacterWrap:
      return PANGO_WRAP_CHAR;
    default:
      return PANGO_WRAP_WORD_CHAR;
  }
}

PangoEllipsizeMode ellipsize(LineBreakMode mode) {
  switch (mode) {
    case LineBreakMode::TruncatingHead:
      return PANGO_ELLIPSIZE_START;
    case LineBreakMode::TruncatingMiddle:
      return PANGO_ELLIPSIZE_MIDDLE;
    case LineBreakMode::TruncatingTail:
      return PANGO_ELLIPSIZE_END;
    default:
      return PANGO_ELLIPSIZE_NONE;
  }
}

Size pixelSize(PangoLayout* layout) {
  PangoRectangle logical;
  pango_layout_get_extents(layout, nullptr, &logical);
  return {std::ceil(logical.width / double(PANGO_SCALE)),
          std::ceil(logical.height / double(PANGO_SCALE))};
}

}  // namespace

PangoContext* TextMeasurer::sharedContext() {
  static PangoContext* context = [] {
    PangoFontMap* map = pango_cairo_font_map_get_default();
    PangoContext* c = pango_font_map_create_context(map);
    // One pango unit per point: font sizes are given in points.
    pango_cairo_context_set_resolution(c, 72);
    return c;
  }();
  return context;
}

PangoLayout* TextMeasurer::makeLayout(PangoContext* context, const std::string& text,
                                      const Font& font, double width, LineBreakMode mode,
                                      int maxLines) {
  PangoLayout* layout = pango_layout_new(context);
  pango_layout_set_text(layout, text.c_str(), static_cast<int>(text.size()));
  PangoFontDescription* desc = pango_font_description_from_string(font.pangoDescription().c_str());
  pango_layout_set_font_description(layout, desc);
  pango_font_description_free(desc);
  if (width <= 0) return layout;  // one unbounded line per paragraph
  pango_layout_set_width(layout, static_cast<int>(width * PANGO_SCALE));
  pango_layout_set_wrap(layout, wrapMode(mode));
  if (maxLines == 1 && ellipsize(mode) == PANGO_ELLIPSIZE_NONE) {
    // A clipped or wrapping single line: lay out unwrapped and let the drawing clip.
    pango_layout_set_width(layout, -1);
  } else if (maxLines > 0 && ellipsize(mode) != PANGO_ELLIPSIZE_NONE) {
    pango_layout_set_ellipsize(layout, ellipsize(mode));
    pango_layout_set_height(layout, -maxLines);
  }
  return layout;
}

Size TextMeasurer::sizeOfText(const std::string& text, const Font& font, Size constraint,
                              LineBreakMode mode) {
  MutexLock lock(measuring_);
  if (text.empty()) return {};
  // Measuring wraps; truncation only changes how the last line is drawn.
  PangoLayout* layout =
      makeLayout(sharedContext(), text, font, constraint.width, LineBreakMode::WordWrap, 0);
  if (constraint.width > 0) pango_layout_set_wrap(layout, wrapMode(mode));
  Size size = pixelSize(layout);
  if (constraint.height > 0 && size.height > constraint.height) {
    // Whole lines that fit the height.
    double used = 0;
    int count = pango_layout_get_line_count(layout);
    for (int i = 0; i < count; ++i) {
      PangoRectangle line;
      pango_layout_line_get_extents(pango_layout_get_line_readonly(layout, i), nullptr, &line);
      double h = line.height / double(PANGO_SCALE);
      if (used + h > constraint.height + 0.01) break;
      used += h;
    }
    size.height = std::ceil(used);
  }
  if (constraint.width > 0) size.width = std::min(size.width, std::ceil(constraint.width));
  g_object_unref(layout);
  return size;
}

Size TextMeasurer::sizeOfLine(const std::string& text, const Font& font, double width) {
  MutexLock lock(measuring_);
  return lineSize(text, font, width);
}

Size TextMeasurer::lineSize(const std::string& text, const Font& font, double width) {
  if (text.empty()) return {};
  PangoLayout* layout = makeLayout(sharedContext(), text, font, 0, LineBreakMode::Clip, 1);
  Size size = pixelSize(layout);
  g_object_unref(layout);
  if (width > 0) size.width = std::min(size.width, width);
  return size;
}

double TextMeasurer::heightForString(const std::optional<std::string>& text, double fontSize,
                                     double width) {
  if (!text) return 0;
  return sizeOfText(*text, Font::systemFont(fontSize), {width, 0}, LineBreakMode::WordWrap).height;
}

double TextMeasurer::fittingFontSize(const std::string& text, const Font& font, double minimumSize,
                                     double width) {
  MutexLock lock(measuring_);
  for (double size = font.pointSize(); size > minimumSize; size -= 1) {
    if (lineSize(text, font.withSize(size), 0).width <= width) return size;
  }
  return minimumSize;
}

bool TextMeasurer::fontCovers(const std::string& text, const Font& font) {
  MutexLock lock(measuring_);
  PangoLayout* layout = makeLayout(sharedContext(), text, font, 0, LineBreakMode::Clip, 1);
  int unknown = pango_layout_get_unknown_glyphs_count(layout);
  g_object_unref(layout);
  return unknown == 0;
}

}  // namespace platform
