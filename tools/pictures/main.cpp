// drawpictures <folder>: writes every picture the application names into <folder>. The build
// runs it into the resource folder the application reads its images from.

#include <cstdio>
#include <string>

#include "pictures/PictureBook.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <images folder>\n", argv[0]);
    return 2;
  }
  std::string error;
  if (!pictures::PictureBook::writeAll(argv[1], &error)) {
    std::fprintf(stderr, "drawpictures: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
