#include "screens/common/ReclassCell.h"

#include "platform/ui/Image.h"
#include "screens/common/ScreenLook.h"

namespace {

std::shared_ptr<platform::Label> addLabel(platform::View& parent, const platform::Rect& frame,
                                          double fontSize, platform::Color color,
                                          const std::string& text = {}) {
  auto label = platform::Label::create(frame);
  label->setBackgroundColor(platform::Color::clearColor());
  label->setFont(platform::Font::systemFont(fontSize));
  label->setTextColor(color);
  label->setText(text);
  parent.addSubview(label);
  return label;
}

}  // namespace

ReclassCell::ReclassCell(platform::TableViewCellStyle style,
                         std::optional<std::string> reuseIdentifier)
    : TableViewCell(style, std::move(reuseIdentifier)) {
  initView();
}

void ReclassCell::initView() {
  auto& content = *contentView();
  _arrawIv = platform::ImageView::create(platform::Rect{12, 22, 4, 6});
  _arrawIv->setImage(platform::Image::named("arraw"));
  content.addSubview(_arrawIv);
  _reclassNameLabel = addLabel(content, {23, 15, 280, 20}, 16, platform::Color::blackColor());
  _labelZongkeshi = addLabel(content, {23, 37, 100, 20}, 13, screenlook::kCaptionGrey, "总课时：");
  _labelLeijikeshi =
      addLabel(content, {150, 37, 100, 20}, 13, screenlook::kCaptionGrey, "累计课时：");
  _totalMinsLabel = addLabel(content, {70, 37, 100, 20}, 13, screenlook::kCaptionGrey);
  _lisMinsLabel = addLabel(content, {210, 37, 100, 20}, 13, screenlook::kAccentOrange);
  _splitView = screenlook::filledView({12, 68, 296, 1}, screenlook::kSeparator);
  content.addSubview(_splitView);
}

void ReclassCell::setState(int state) {
  _state = state;
  bool finished = state != 0;
  _arrawIv->setImage(platform::Image::named(finished ? "arraw_finish" : "arraw"));
  _reclassNameLabel->setTextColor(finished ? screenlook::kFinishedGrey
                                           : platform::Color::blackColor());
  for (const auto& grey : {_labelZongkeshi, _labelLeijikeshi, _totalMinsLabel})
    grey->setTextColor(finished ? screenlook::kFinishedGrey : screenlook::kCaptionGrey);
  _lisMinsLabel->setTextColor(finished ? screenlook::kFinishedGrey : screenlook::kAccentOrange);
}
