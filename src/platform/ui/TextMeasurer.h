#pragma once
// TextMeasurer: measures text the way labels draw it, with pango. Sizes are in points and
// rounded up to whole points, as the platform's string measuring does. Measuring is safe from
// any thread (one lock); drawing belongs to the main thread.
//
// `heightForString` is the height-of-text utility: the height a text needs in the system font
// of a size when wrapped by words within a width, 0 for an absent text.

#include <optional>
#include <string>

#include "platform/foundation/Mutex.h"
#include "platform/ui/Font.h"
#include "platform/ui/Geometry.h"
#include "platform/ui/TextTypes.h"

typedef struct _PangoLayout PangoLayout;
typedef struct _PangoContext PangoContext;

namespace platform {

class TextMeasurer {
 public:
  // The size of `text` wrapped within `constraint` (a width of 0 or less: one unbounded line;
  // a height of 0 or less: unbounded). Lines beyond the height are cut off.
  static Size sizeOfText(const std::string& text, const Font& font, Size constraint = {},
                         LineBreakMode mode = LineBreakMode::WordWrap) EXCLUDES(measuring_);
  // The size of `text` on one line, cut to `width` when wider (width 0: unbounded).
  static Size sizeOfLine(const std::string& text, const Font& font, double width = 0)
      EXCLUDES(measuring_);
  static double heightForString(const std::optional<std::string>& text, double fontSize,
                                double width);
  // The largest size from the font's size down to `minimumSize` at which `text` fits `width`
  // on one line; `minimumSize` when none does.
  static double fittingFontSize(const std::string& text, const Font& font, double minimumSize,
                                double width) EXCLUDES(measuring_);
  // Whether the face pango picks for `font` has a glyph for every character of `text`.
  static bool fontCovers(const std::string& text, const Font& font) EXCLUDES(measuring_);

  // A layout set up for `text` in `context` (the drawing's own); the caller releases it with
  // g_object_unref.
  static PangoLayout* makeLayout(PangoContext* context, const std::string& text, const Font& font,
                                 double width, LineBreakMode mode, int maxLines);

 private:
  // The measuring context, shared by every thread: pango's objects are not safe to use from two
  // threads at once.
  static PangoContext* sharedContext() REQUIRES(measuring_);
  static Size lineSize(const std::string& text, const Font& font, double width)
      REQUIRES(measuring_);

  static inline Mutex measuring_;
};

}  // namespace platform
