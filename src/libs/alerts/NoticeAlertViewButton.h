#pragma once
// NoticeAlertViewButton: a drawn button of the button alert: a rectangle with corners of 2
// points in its style's fill, and its title centred in its style's text colour, bold, shrunk
// from 18 points (down to 8) to fit the width less 20.
//
// Styles: 0 white with dark grey text, 1 red with white, 2 blue (50, 155, 255) with white, any
// other white with white. Main thread only.

#include <optional>
#include <string>

#include "platform/ui/Button.h"

class NoticeAlertViewButton : public platform::Button {
  CH_SHARED_OBJECT(NoticeAlertViewButton)

 public:
  int alertButtonType() const { return _alertButtonType; }
  void setAlertButtonType(int type);
  const std::optional<std::string>& title() const { return _title; }
  void setTitle(std::optional<std::string> title);

  platform::Color colorForButtonStyle() const;
  platform::Color textColor() const;
  void drawRect(platform::GraphicsContext& context, const platform::Rect& rect) override;

 protected:
  // initWithTitle: a 100 x 40 button with a clear background.
  explicit NoticeAlertViewButton(std::optional<std::string> title);

 private:
  int _alertButtonType = 0;
  std::optional<std::string> _title;
};
