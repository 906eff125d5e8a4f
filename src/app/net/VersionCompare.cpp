#include "net/VersionCompare.h"

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view digitRun(std::string_view text, std::size_t& i) {
  std::size_t start = i;
  while (i < text.size() && isDigit(text[i])) ++i;
  return text.substr(start, i - start);
}

// Compares two digit runs by value without converting them, so long runs cannot overflow.
int compareNumbers(std::string_view a, std::string_view b) {
  while (a.size() > 1 && a.front() == '0') a.remove_prefix(1);
  while (b.size() > 1 && b.front() == '0') b.remove_prefix(1);
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  int order = a.compare(b);
  return order < 0 ? -1 : order > 0 ? 1 : 0;
}

}  // namespace

int VersionCompare::compare(std::string_view a, std::string_view b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (isDigit(a[i]) && isDigit(b[j])) {
      int order = compareNumbers(digitRun(a, i), digitRun(b, j));
      if (order != 0) return order;
      continue;
    }
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[j]);
    if (x != y) return x < y ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}
