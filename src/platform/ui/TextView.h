#pragma once
// TextView: multi-line editable text in a scrolling area. Tapping it makes it the first
// responder; its delegate is asked and told as on the platform (shouldBeginEditing,
// didBeginEditing, shouldChangeText for each typed character, didChange, shouldEndEditing,
// didEndEditing). The delegate is not owned.

#include <memory>
#include <string>

#include "platform/ui/Font.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/TextTypes.h"

namespace platform {

class TextView;

class TextViewDelegate : public ScrollViewDelegate {
 public:
  virtual bool textViewShouldBeginEditing(TextView&) { return true; }
  virtual void textViewDidBeginEditing(TextView&) {}
  virtual bool textViewShouldEndEditing(TextView&) { return true; }
  virtual void textViewDidEndEditing(TextView&) {}
  virtual bool shouldChangeTextInRange(TextView&, std::size_t /*location*/, std::size_t /*length*/,
                                       const std::string&) {
    return true;
  }
  virtual void textViewDidChange(TextView&) {}
};

class TextView : public ScrollView {
  CH_SHARED_OBJECT(TextView)

 public:
  const std::string& text() const { return text_; }
  // Setting the text by code does not tell the delegate, as on the platform.
  void setText(std::string text);
  Font font() const { return font_; }
  void setFont(const Font& f) { font_ = f; }
  Color textColor() const { return textColor_; }
  void setTextColor(Color c) { textColor_ = c; }
  TextAlignment textAlignment() const { return alignment_; }
  void setTextAlignment(TextAlignment a) { alignment_ = a; }
  bool isEditable() const { return editable_; }
  void setEditable(bool e) { editable_ = e; }

  std::shared_ptr<TextViewDelegate> textDelegate() const { return delegate_.lock(); }
  // Also the scroll view's delegate.
  void setDelegate(std::weak_ptr<TextViewDelegate> d);

  bool insertText(const std::string& text);
  bool deleteBackward();

  bool canBecomeFirstResponder() const override { return editable_; }
  bool becomeFirstResponder() override;
  bool resignFirstResponder() override;
  void touchesEnded(const std::vector<Touch>& touches) override;
  void drawRect(GraphicsContext& context, const Rect& rect) override;

 protected:
  explicit TextView(const Rect& frame = {});

 private:
  bool change(std::size_t location, std::size_t length, const std::string& replacement);

  std::string text_;
  Font font_ = Font::systemFont(12);
  Color textColor_ = Color::blackColor();
  TextAlignment alignment_ = TextAlignment::Left;
  bool editable_ = true;
  std::weak_ptr<TextViewDelegate> delegate_;
};

}  // namespace platform
