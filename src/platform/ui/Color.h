#pragma once
// Color: an RGBA colour with components from 0 to 1, with the platform's named colours.

namespace platform {

class Color {
 public:
  constexpr Color() = default;
  constexpr Color(double r, double g, double b, double a = 1) : r_(r), g_(g), b_(b), a_(a) {}

  static constexpr Color rgb(double r, double g, double b, double a = 1) { return {r, g, b, a}; }
  // Components given as 0-255 values.
  static constexpr Color rgb255(double r, double g, double b, double a = 1) {
    return {r / 255, g / 255, b / 255, a};
  }
  static constexpr Color white(double level, double alpha = 1) {
    return {level, level, level, alpha};
  }
  static constexpr Color clearColor() { return {0, 0, 0, 0}; }
  static constexpr Color blackColor() { return {0, 0, 0, 1}; }
  static constexpr Color whiteColor() { return {1, 1, 1, 1}; }
  static constexpr Color redColor() { return {1, 0, 0, 1}; }
  static constexpr Color blueColor() { return {0, 0, 1, 1}; }
  static constexpr Color grayColor() { return {0.5, 0.5, 0.5, 1}; }
  static constexpr Color lightGrayColor() { return {2.0 / 3, 2.0 / 3, 2.0 / 3, 1}; }
  static constexpr Color darkGrayColor() { return {1.0 / 3, 1.0 / 3, 1.0 / 3, 1}; }
  // The striped background of grouped tables, drawn as its average tone.
  static constexpr Color groupTableViewBackground() { return rgb255(197, 204, 212); }

  constexpr double red() const { return r_; }
  constexpr double green() const { return g_; }
  constexpr double blue() const { return b_; }
  constexpr double alpha() const { return a_; }
  constexpr Color withAlpha(double a) const { return {r_, g_, b_, a}; }
  constexpr bool isClear() const { return a_ <= 0; }

  bool operator==(const Color&) const = default;

 private:
  double r_ = 0, g_ = 0, b_ = 0, a_ = 1;
};

}  // namespace platform
