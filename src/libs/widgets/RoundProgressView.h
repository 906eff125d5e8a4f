#pragma once
// RoundProgressView: progress from 0 to 1 drawn as a pie (a white wedge from twelve o'clock,
// clockwise, over a tinted disc) or, when annular, as a ring over a faint full ring. Changing
// the progress, the kind or either colour redraws it. 37 x 37 points unless given a frame; not
// opaque, clear background. Main thread only (the HUD forwards progress set elsewhere).

#include "platform/ui/View.h"

class RoundProgressView : public platform::View {
  CH_SHARED_OBJECT(RoundProgressView)

 public:
  double progress() const { return _progress; }
  void setProgress(double progress);
  bool isAnnular() const { return _annular; }
  void setAnnular(bool annular);
  platform::Color progressTintColor() const { return _progressTintColor; }
  void setProgressTintColor(platform::Color color);
  platform::Color backgroundTintColor() const { return _backgroundTintColor; }
  void setBackgroundTintColor(platform::Color color);

  void drawRect(platform::GraphicsContext& context, const platform::Rect& rect) override;

 protected:
  RoundProgressView();
  explicit RoundProgressView(const platform::Rect& frame);

 private:
  double _progress = 0;
  bool _annular = false;
  platform::Color _progressTintColor = platform::Color::white(1.0, 1.0);
  platform::Color _backgroundTintColor = platform::Color::white(1.0, 0.1);
};
