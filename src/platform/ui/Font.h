#pragma once
// Font: a typeface and a point size. The system font is a CJK-capable sans-serif face, so the
// application's Chinese texts measure and draw with real glyphs. A named font that is not
// installed falls back to the system face (keeping its boldness).

#include <string>

namespace platform {

class Font {
 public:
  Font() = default;

  static Font systemFont(double size);
  static Font boldSystemFont(double size);
  static Font fontWithName(const std::string& name, double size);

  const std::string& name() const { return name_; }
  double pointSize() const { return size_; }
  bool isBold() const { return bold_; }
  Font withSize(double size) const;

  // The face description handed to pango ("<families> [Bold] <size>px").
  std::string pangoDescription() const;

  bool operator==(const Font&) const = default;

 private:
  Font(std::string name, double size, bool bold)
      : name_(std::move(name)), size_(size), bold_(bold) {}
  std::string name_ = "System";
  double size_ = 17;
  bool bold_ = false;
};

}  // namespace platform
