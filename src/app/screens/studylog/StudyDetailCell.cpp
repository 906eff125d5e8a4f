#include "screens/studylog/StudyDetailCell.h"

#include "platform/ui/ImageView.h"
#include "screens/common/ScreenLook.h"

StudyDetailCell::StudyDetailCell(platform::TableViewCellStyle style,
                                 std::optional<std::string> reuseIdentifier)
    : TableViewCell(style, std::move(reuseIdentifier)) {
  auto& content = *contentView();
  auto arrow = platform::ImageView::create(platform::Rect{12, 22, 4, 6});
  arrow->setImage(platform::Image::named("arraw"));
  content.addSubview(arrow);
  _courseTitleLab = platform::Label::create(platform::Rect{20, 12, 300, 30});
  _courseTitleLab->setBackgroundColor(platform::Color::clearColor());
  content.addSubview(_courseTitleLab);
  _courseStateLab = platform::Label::create(platform::Rect{100, 42, 200, 20});
  _courseStateLab->setTextAlignment(platform::TextAlignment::Right);
  _courseStateLab->setBackgroundColor(platform::Color::clearColor());
  _courseStateLab->setTextColor(screenlook::kCaptionGrey);
  _courseStateLab->setFont(platform::Font::systemFont(14));
  content.addSubview(_courseStateLab);
  content.addSubview(screenlook::filledView({12, 68, 296, 1}, screenlook::kSeparator));
}
