#include "screens/settings/AnswerCell.h"

#include "platform/ui/Image.h"

namespace {

std::shared_ptr<platform::ImageView> icon(const platform::Rect& frame, const char* picture) {
  auto view = platform::ImageView::create(frame);
  view->setImage(platform::Image::named(picture));
  return view;
}

std::shared_ptr<platform::Label> wrappingLabel(const platform::Rect& frame,
                                               platform::LineBreakMode mode,
                                               platform::Color color) {
  auto label = platform::Label::create(frame);
  label->setLineBreakMode(mode);
  label->setNumberOfLines(0);
  label->setTextColor(color);
  label->setFont(platform::Font::systemFont(13));
  return label;
}

}  // namespace

AnswerCell::AnswerCell(platform::TableViewCellStyle style,
                       std::optional<std::string> reuseIdentifier)
    : TableViewCell(style, std::move(reuseIdentifier)) {
  initView();
}

void AnswerCell::initView() {
  _headIV = icon({10, 5, 12, 12}, "q");
  _questionLabel = wrappingLabel({25, 5, 290, 48}, platform::LineBreakMode::WordWrap,
                                 platform::Color::blackColor());
  _answerIV = icon({10, 45, 12, 12}, "a");
  _answerLabel = wrappingLabel({25, 30, 290, 48}, platform::LineBreakMode::CharacterWrap,
                               platform::Color::white(0.47));
  auto content = contentView();
  content->addSubview(_headIV);
  content->addSubview(_questionLabel);
  content->addSubview(_answerIV);
  content->addSubview(_answerLabel);
}
