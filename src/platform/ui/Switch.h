#pragma once
// Switch: an on/off control of the platform's 79 x 27 size. A tap flips it and sends
// ValueChanged; setting it by code sends nothing.

#include "platform/ui/Control.h"

namespace platform {

class Switch : public Control {
  CH_SHARED_OBJECT(Switch)

 public:
  bool isOn() const { return on_; }
  void setOn(bool on, bool animated = false);
  std::optional<Color> onTintColor() const { return onTint_; }
  void setOnTintColor(std::optional<Color> c) { onTint_ = c; }

  void drawRect(GraphicsContext& context, const Rect& rect) override;

 protected:
  explicit Switch(const Rect& frame = {});

  void didTap(const Touch&) override;

 private:
  bool on_ = false;
  std::optional<Color> onTint_;
};

}  // namespace platform
