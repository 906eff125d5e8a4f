#pragma once
// PortraitOnly<Base>: a screen class that allows the portrait orientation only, as every screen
// but the lecture player does: it may rotate, supports the portrait mask and agrees to turn to
// portrait alone.

#include "platform/ui/Orientation.h"

template <class Base>
class PortraitOnly : public Base {
 public:
  bool shouldAutorotate() const override { return true; }
  unsigned supportedInterfaceOrientations() const override {
    return platform::InterfaceOrientationMask::Portrait;
  }
  bool shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation o) const override {
    return o == platform::InterfaceOrientation::Portrait;
  }

 protected:
  using Base::Base;
};
