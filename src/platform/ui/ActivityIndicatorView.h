#pragma once
// ActivityIndicatorView: the spinning wait indicator, 37 x 37 in the large white style and
// 20 x 20 otherwise. Hidden while stopped unless told otherwise.

#include "platform/ui/View.h"

namespace platform {

enum class ActivityIndicatorStyle { WhiteLarge = 0, White = 1, Gray = 2 };

class ActivityIndicatorView : public View {
  CH_SHARED_OBJECT(ActivityIndicatorView)

 public:
  ActivityIndicatorStyle style() const { return style_; }
  void setStyle(ActivityIndicatorStyle style);
  void startAnimating();
  void stopAnimating();
  bool isAnimating() const { return animating_; }
  bool hidesWhenStopped() const { return hidesWhenStopped_; }
  void setHidesWhenStopped(bool h);
  std::optional<Color> color() const { return color_; }
  void setColor(std::optional<Color> c) { color_ = c; }

  Size sizeThatFits(Size size) const override;
  void drawRect(GraphicsContext& context, const Rect& rect) override;

 protected:
  explicit ActivityIndicatorView(ActivityIndicatorStyle style = ActivityIndicatorStyle::White);

 private:
  ActivityIndicatorStyle style_;
  bool animating_ = false;
  bool hidesWhenStopped_ = true;
  std::optional<Color> color_;
};

}  // namespace platform
