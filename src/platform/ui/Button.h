#pragma once
// Button: a control with a title, a title colour, an image and a background image per control
// state (normal, highlighted, disabled, selected); a state without its own value shows the
// normal state's. The title is shown by `titleLabel` and the image by `imageView`, centred
// side by side; the background image fills the bounds.

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/ui/Control.h"
#include "platform/ui/Image.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"

namespace platform {

enum class ButtonType {
  Custom = 0,
  RoundedRect = 1,
  DetailDisclosure,
  InfoLight,
  InfoDark,
  ContactAdd
};

class Button : public Control {
  CH_SHARED_OBJECT(Button)

 public:
  static std::shared_ptr<Button> buttonWithType(ButtonType type);

  ButtonType buttonType() const { return type_; }

  void setTitle(std::optional<std::string> title, unsigned state = ControlState::Normal);
  std::optional<std::string> titleForState(unsigned state) const;
  void setTitleColor(std::optional<Color> color, unsigned state = ControlState::Normal);
  std::optional<Color> titleColorForState(unsigned state) const;
  void setImage(std::shared_ptr<Image> image, unsigned state = ControlState::Normal);
  std::shared_ptr<Image> imageForState(unsigned state) const;
  void setBackgroundImage(std::shared_ptr<Image> image, unsigned state = ControlState::Normal);
  std::shared_ptr<Image> backgroundImageForState(unsigned state) const;

  // The values shown in the current state.
  std::optional<std::string> currentTitle() const { return titleForState(state()); }
  Color currentTitleColor() const;
  std::shared_ptr<Image> currentImage() const { return imageForState(state()); }
  std::shared_ptr<Image> currentBackgroundImage() const { return backgroundImageForState(state()); }

  std::shared_ptr<Label> titleLabel() const { return titleLabel_; }
  std::shared_ptr<ImageView> imageView() const { return imageView_; }

  EdgeInsets contentEdgeInsets() const { return contentInsets_; }
  void setContentEdgeInsets(EdgeInsets e) {
    contentInsets_ = e;
    setNeedsLayout();
  }
  EdgeInsets titleEdgeInsets() const { return titleInsets_; }
  void setTitleEdgeInsets(EdgeInsets e) {
    titleInsets_ = e;
    setNeedsLayout();
  }
  EdgeInsets imageEdgeInsets() const { return imageInsets_; }
  void setImageEdgeInsets(EdgeInsets e) {
    imageInsets_ = e;
    setNeedsLayout();
  }
  std::optional<Color> tintColor() const { return tintColor_; }
  void setTintColor(std::optional<Color> c) { tintColor_ = c; }
  bool showsTouchWhenHighlighted() const { return showsTouch_; }
  void setShowsTouchWhenHighlighted(bool s) { showsTouch_ = s; }
  bool adjustsImageWhenHighlighted() const { return adjustsImage_; }
  void setAdjustsImageWhenHighlighted(bool a) { adjustsImage_ = a; }

  void setEnabled(bool enabled) override;
  void setSelected(bool selected) override;
  void setHighlighted(bool highlighted) override;

  void layoutSubviews() override;
  Size sizeThatFits(Size size) const override;
  void drawRect(GraphicsContext& context, const Rect& rect) override;

 protected:
  explicit Button(const Rect& frame = {}, ButtonType type = ButtonType::Custom);

 private:
  template <class T>
  static const T* lookup(const std::map<unsigned, T>& values, unsigned state);
  // Shows the current state's title and image; refreshContent also asks for a new layout.
  void refreshContent();
  void updateSubviews();

  ButtonType type_;
  std::map<unsigned, std::string> titles_;
  std::map<unsigned, Color> titleColors_;
  std::map<unsigned, std::shared_ptr<Image>> images_;
  std::map<unsigned, std::shared_ptr<Image>> backgrounds_;
  std::shared_ptr<Label> titleLabel_;
  std::shared_ptr<ImageView> imageView_;
  EdgeInsets contentInsets_, titleInsets_, imageInsets_;
  std::optional<Color> tintColor_;
  bool showsTouch_ = false;
  bool adjustsImage_ = true;
};

}  // namespace platform
