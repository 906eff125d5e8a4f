#pragma once
// TextField: one line of editable text with a placeholder, secure entry (drawn as dots), a
// return key type, a border style, a clear button mode and a left view. Tapping it makes it
// the first responder (the keyboard comes up); its delegate is asked and told about editing
// as on the platform: shouldBeginEditing, didBeginEditing, shouldChangeCharacters for each
// typed character, shouldReturn, shouldEndEditing, didEndEditing. It also sends the editing
// control events. The delegate is not owned.

#include <memory>
#include <optional>
#include <string>

#include "platform/ui/Control.h"
#include "platform/ui/Font.h"
#include "platform/ui/TextTypes.h"

namespace platform {

class TextField;

class TextFieldDelegate {
 public:
  virtual ~TextFieldDelegate() = default;
  virtual bool textFieldShouldBeginEditing(TextField&) { return true; }
  virtual void textFieldDidBeginEditing(TextField&) {}
  virtual bool textFieldShouldEndEditing(TextField&) { return true; }
  virtual void textFieldDidEndEditing(TextField&) {}
  // `location` and `length` in bytes of the UTF-8 text.
  virtual bool shouldChangeCharactersInRange(TextField&, std::size_t /*location*/,
                                             std::size_t /*length*/, const std::string&) {
    return true;
  }
  virtual bool textFieldShouldClear(TextField&) { return true; }
  virtual bool textFieldShouldReturn(TextField&) { return true; }
};

enum class TextBorderStyle { None = 0, Line, Bezel, RoundedRect };
enum class TextFieldViewMode { Never = 0, WhileEditing, UnlessEditing, Always };
// The label of the keyboard's return key; the screens use these three.
enum class ReturnKeyType { Default = 0, Go, Next };
enum class ContentVerticalAlignment { Center = 0, Top, Bottom, Fill };

class TextField : public Control {
  CH_SHARED_OBJECT(TextField)

 public:
  const std::string& text() const { return text_; }
  void setText(std::string text);
  const std::optional<std::string>& placeholder() const { return placeholder_; }
  void setPlaceholder(std::optional<std::string> p);
  Font font() const { return font_; }
  void setFont(const Font& f) { font_ = f; }
  Color textColor() const { return textColor_; }
  void setTextColor(Color c) { textColor_ = c; }
  TextAlignment textAlignment() const { return alignment_; }
  void setTextAlignment(TextAlignment a) { alignment_ = a; }
  bool isSecureTextEntry() const { return secure_; }
  void setSecureTextEntry(bool s) { secure_ = s; }
  ReturnKeyType returnKeyType() const { return returnKey_; }
  void setReturnKeyType(ReturnKeyType r) { returnKey_ = r; }
  int keyboardType() const { return keyboardType_; }
  void setKeyboardType(int k) { keyboardType_ = k; }
  TextBorderStyle borderStyle() const { return border_; }
  void setBorderStyle(TextBorderStyle b) { border_ = b; }
  TextFieldViewMode clearButtonMode() const { return clearMode_; }
  void setClearButtonMode(TextFieldViewMode m) { clearMode_ = m; }
  ContentVerticalAlignment contentVerticalAlignment() const { return vertical_; }
  void setContentVerticalAlignment(ContentVerticalAlignment v) { vertical_ = v; }
  std::shared_ptr<View> leftView() const { return leftView_; }
  void setLeftView(std::shared_ptr<View> view);
  TextFieldViewMode leftViewMode() const { return leftViewMode_; }
  void setLeftViewMode(TextFieldViewMode m) {
    leftViewMode_ = m;
    setNeedsLayout();
  }
  bool isEditing() const { return isFirstResponder(); }

  std::shared_ptr<TextFieldDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<TextFieldDelegate> d) { delegate_ = std::move(d); }

  // Keyboard input while editing (the test drivers call these).
  // Inserts `text` one character at a time; false when not editing.
  bool insertText(const std::string& text);
  bool deleteBackward();
  // The return key: asks the delegate and sends EditingDidEndOnExit, which ends editing.
  bool pressReturn();
  // The clear button.
  bool clear();

  bool handlesTapsItself() const override { return false; }
  bool canBecomeFirstResponder() const override { return isEnabled(); }
  bool becomeFirstResponder() override;
  bool resignFirstResponder() override;

  void layoutSubviews() override;
  void drawRect(GraphicsContext& context, const Rect& rect) override;

 protected:
  explicit TextField(const Rect& frame = {});

  void didTap(const Touch&) override;

 private:
  bool insertCharacter(const std::string& character);
  std::string displayedText() const;

  std::string text_;
  std::optional<std::string> placeholder_;
  Font font_ = Font::systemFont(12);
  Color textColor_ = Color::blackColor();
  TextAlignment alignment_ = TextAlignment::Left;
  bool secure_ = false;
  ReturnKeyType returnKey_ = ReturnKeyType::Default;
  int keyboardType_ = 0;
  TextBorderStyle border_ = TextBorderStyle::None;
  TextFieldViewMode clearMode_ = TextFieldViewMode::Never;
  ContentVerticalAlignment vertical_ = ContentVerticalAlignment::Top;
  std::shared_ptr<View> leftView_;
  TextFieldViewMode leftViewMode_ = TextFieldViewMode::Never;
  std::weak_ptr<TextFieldDelegate> delegate_;
};

// Splits UTF-8 text into its characters (code points), for typing one at a time.
std::vector<std::string> utf8Characters(const std::string& text);

}  // namespace platform
