#include "screens/common/CourseWareCell.h"

#include "platform/ui/Image.h"
#include "screens/common/ScreenLook.h"

CourseWareCell::CourseWareCell(platform::TableViewCellStyle style,
                               std::optional<std::string> reuseIdentifier)
    : TableViewCell(style, std::move(reuseIdentifier)) {
  initView();
}

void CourseWareCell::initView() {
  auto& content = *contentView();
  _arrawIv = platform::ImageView::create(platform::Rect{0, 22, 4, 6});
  _arrawIv->setImage(platform::Image::named("arraw"));
  content.addSubview(_arrawIv);
  _reclassNameLabel = platform::Label::create(platform::Rect{10, 15, 280, 20});
  _reclassNameLabel->setTextColor(platform::Color::blackColor());
  _reclassNameLabel->setBackgroundColor(platform::Color::clearColor());
  _reclassNameLabel->setFont(platform::Font::systemFont(16));
  content.addSubview(_reclassNameLabel);
  _splitView = screenlook::filledView({0, 47, 296, 1}, screenlook::kSeparator);
  content.addSubview(_splitView);
}

void CourseWareCell::setState(int state) {
  _state = state;
  bool finished = state != 0;
  _arrawIv->setImage(platform::Image::named(finished ? "arraw_finish" : "arraw"));
  _reclassNameLabel->setTextColor(finished ? screenlook::kFinishedGrey
                                           : platform::Color::blackColor());
}
