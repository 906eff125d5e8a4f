#include "platform/ui/Font.h"

#include <cstdio>

namespace platform {

namespace {
// One face for every system font keeps widths stable between machines that have it.
constexpr const char* kSystemFamilies = "WenQuanYi Micro Hei,Noto Sans CJK SC,sans-serif";
}  // namespace

Font Font::systemFont(double size) { return Font("System", size, false); }

Font Font::boldSystemFont(double size) { return Font("System-Bold", size, true); }

Font Font::fontWithName(const std::string& name, double size) {
  bool bold = name.find("Bold") != std::string::npos;
  return Font(name, size, bold);
}

Font Font::withSize(double size) const { return Font(name_, size, bold_); }

std::string Font::pangoDescription() const {
  std::string families = kSystemFamilies;
  if (name_.rfind("System", 0) != 0) {
    std::string family = name_.substr(0, name_.find('-'));
    families = family + "," + families;
  }
  char size[32];
  std::snprintf(size, sizeof size, "%.3fpx", size_);
  return families + (bold_ ? " Bold " : " ") + size;
}

}  // namespace platform
