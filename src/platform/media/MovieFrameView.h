#pragma once
// MovieFrameView: the movie player's view. It draws the player's current frame scaled to fit,
// centred on black (black alone before a frame is decoded, or when none can be). Drawing tells
// the player the view is being looked at, so the frame for the current time gets decoded while
// the movie plays: a headless player decodes only what is drawn.

#include <functional>
#include <memory>

#include "platform/ui/View.h"

namespace platform {

class Image;

class MovieFrameView : public View {
  CH_SHARED_OBJECT(MovieFrameView)

 public:
  const std::shared_ptr<Image>& frameImage() const { return frame_; }
  // A null image draws black.
  void setFrameImage(std::shared_ptr<Image> frame);
  // Called at each drawing, before the frame is drawn.
  void setDrawingObserver(std::function<void()> observer) { observer_ = std::move(observer); }
  // Whether a frame asked for has not arrived yet (set by the player): a picture taken now shows
  // the one before it.
  bool isWaitingForFrame() const { return waiting_; }
  void setWaitingForFrame(bool waiting) { waiting_ = waiting; }

  void drawRect(GraphicsContext& context, const Rect& rect) override;

 protected:
  explicit MovieFrameView(const Rect& frame = {});

 private:
  std::shared_ptr<Image> frame_;
  std::function<void()> observer_;
  bool waiting_ = false;
};

}  // namespace platform
