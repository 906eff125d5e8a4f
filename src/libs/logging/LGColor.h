#pragma once
// A colour as the console logger reads it: red, green and blue components from 0 to 1.

struct LGColor {
  double red = 0;
  double green = 0;
  double blue = 0;

  static LGColor fromBytes(int red, int green, int blue) {
    return LGColor{red / 255.0, green / 255.0, blue / 255.0};
  }
};
