#pragma once
// PictureBook: every picture the application names, drawn as plain vector art. The screens,
// cells and widgets refer to their pictures by resource name and lay views out from their
// sizes, so each picture here has its name and the size in points the screens show it at; the
// art itself is ours (flat shapes in the application's orange and greys, a few words where a
// button shows nothing else).
//
// `writeAll` writes "<name>.png" at one pixel per point and "<name>@2x.png" at two, the form the
// image lookup reads.

#include <functional>
#include <string>
#include <vector>

typedef struct _cairo cairo_t;

namespace pictures {

struct Picture {
  std::string name;  // without ".png" and "@2x"
  double width = 0;  // points
  double height = 0;
  // Draws the picture into a context whose unit is one point.
  std::function<void(cairo_t*, double width, double height)> draw;
};

class PictureBook {
 public:
  static const std::vector<Picture>& all();
  // Writes every picture into `folder` (made if missing); false, with `error` set, when a file
  // cannot be written. Files are written beside and renamed, so a reader never sees half of one.
  static bool writeAll(const std::string& folder, std::string* error);
};

}  // namespace pictures
