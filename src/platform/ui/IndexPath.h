#pragma once
// IndexPath: a row of a table: its section and its row within the section.

#include <compare>
#include <string>

namespace platform {

struct IndexPath {
  int section = 0;
  int row = 0;

  static IndexPath forRow(int row, int section) { return {section, row}; }
  auto operator<=>(const IndexPath&) const = default;
  std::string description() const {
    return "[" + std::to_string(section) + ", " + std::to_string(row) + "]";
  }
};

}  // namespace platform
