#pragma once
// Label: read-only text. Draws its text in its font and colour, aligned, on `numberOfLines`
// lines (0: as many as fit), vertically centred in its bounds like the platform's labels. With
// `adjustsFontSizeToFitWidth` a one-line text shrinks down to the minimum font size to fit the
// width. Labels take no touches unless user interaction is switched on.

#include <optional>
#include <string>

#include "platform/ui/Font.h"
#include "platform/ui/TextTypes.h"
#include "platform/ui/View.h"

namespace platform {

class Label : public View {
  CH_SHARED_OBJECT(Label)

 public:
  const std::string& text() const { return text_; }
  void setText(std::string text);
  const Font& font() const { return font_; }
  void setFont(const Font& font);
  Color textColor() const { return textColor_; }
  void setTextColor(Color color);
  std::optional<Color> highlightedTextColor() const { return highlightedTextColor_; }
  void setHighlightedTextColor(std::optional<Color> color) { highlightedTextColor_ = color; }
  bool isHighlighted() const { return highlighted_; }
  void setHighlighted(bool h) { highlighted_ = h; }
  TextAlignment textAlignment() const { return alignment_; }
  void setTextAlignment(TextAlignment alignment);
  LineBreakMode lineBreakMode() const { return lineBreakMode_; }
  void setLineBreakMode(LineBreakMode mode);
  int numberOfLines() const { return numberOfLines_; }
  void setNumberOfLines(int lines);
  bool adjustsFontSizeToFitWidth() const { return adjustsFontSize_; }
  void setAdjustsFontSizeToFitWidth(bool adjusts) { adjustsFontSize_ = adjusts; }
  double minimumFontSize() const { return minimumFontSize_; }
  void setMinimumFontSize(double size) { minimumFontSize_ = size; }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled) { enabled_ = enabled; }

  // The font the text is drawn in (after shrinking to fit).
  Font fontForDrawing() const;
  // The size the text needs within `size` (its width bounds wrapping).
  Size sizeThatFits(Size size) const override;
  void drawRect(GraphicsContext& context, const Rect& rect) override;

 protected:
  explicit Label(const Rect& frame = {});

 private:
  std::string text_;
  Font font_ = Font::systemFont(17);
  Color textColor_ = Color::blackColor();
  std::optional<Color> highlightedTextColor_;
  bool highlighted_ = false;
  TextAlignment alignment_ = TextAlignment::Left;
  LineBreakMode lineBreakMode_ = LineBreakMode::TruncatingTail;
  int numberOfLines_ = 1;
  bool adjustsFontSize_ = false;
  double minimumFontSize_ = 0;
  bool enabled_ = true;
};

}  // namespace platform
