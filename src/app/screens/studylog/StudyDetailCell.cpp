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
  courseTitleLab_ = platform::Label::create(platform::Rect{20, 12, 300, 30});
  courseTitleLab_->setBackgroundColor(platform::Color::clearColor());
  content.addSubview(courseTitleLab_);
  courseStateLab_ = platform::Label::create(platform::Rect{100, 42, 200, 20});
  courseStateLab_->setTextAlignment(platform::TextAlignment::Right);
  courseStateLab_->setBackgroundColor(platform::Color::clearColor());
  courseStateLab_->setTextColor(screenlook::kCaptionGrey);
  courseStateLab_->setFont(platform::Font::systemFont(14));
  content.addSubview(courseStateLab_);
  content.addSubview(screenlook::filledView({12, 68, 296, 1}, screenlook::kSeparator));
}
