#include "screens/local/DownLoadCell.h"

#include <cmath>

#include "platform/ui/TableView.h"
#include "screens/common/ScreenLook.h"

namespace {

std::shared_ptr<platform::Label> rowLabel(platform::View& content, const platform::Rect& frame,
                                          double size, platform::Color color,
                                          const std::string& text = {}) {
  auto label = platform::Label::create(frame);
  label->setBackgroundColor(platform::Color::clearColor());
  label->setFont(platform::Font::systemFont(size));
  label->setTextColor(color);
  label->setText(text);
  content.addSubview(label);
  return label;
}

}  // namespace

DownLoadCell::DownLoadCell(platform::TableViewCellStyle style,
                           std::optional<std::string> reuseIdentifier)
    : TableViewCell(style, std::move(reuseIdentifier)) {
  auto& content = *contentView();
  const double y0 = std::floor(std::abs(std::trunc(frame().size.height - 13))) / 2;
  _mSelectedIndicator = platform::ImageView::create(platform::Rect{-20, std::floor(y0), 15, 15});
  _mSelectedIndicator->setUserInteractionEnabled(true);
  content.addSubview(_mSelectedIndicator);
  auto arrow = platform::ImageView::create(platform::Rect{2, 17, 4, 6});
  arrow->setImage(platform::Image::named("arraw"));
  content.addSubview(arrow);
  _nameLabel = rowLabel(content, {10, 5, 300, 30}, 17, platform::Color::blackColor());
  _stateLab = rowLabel(content, {10, 30, 50, 28}, 12, screenlook::kCaptionGrey, "等待下载");
  _progressLab = rowLabel(content, {260, 30, 40, 20}, 12, screenlook::kCaptionGrey, "(0%)");
}

void DownLoadCell::setDonwloadState(int state) {
  _donwloadState = state;
  switch (state) {
    case 0:
      _stateLab->setText("等待下载");
      break;
    case 1:
      _stateLab->setText("完成");
      break;
    case 2:
    case 5:
      _stateLab->setText("已暂停");
      _progressLab->setText("");
      break;
    case 3:
      _stateLab->setText("轻点重试");
      _progressLab->setText("");
      break;
    case 4:
      _stateLab->setText("正在下载");
      break;
    case 6:
      _stateLab->setText("");
      _progressLab->setText("");
      break;
    default:
      break;
  }
}

void DownLoadCell::changeMSelectedState() {
  _mSelected = !_mSelected;
  setNeedsLayout();
}

void DownLoadCell::layoutSubviews() {
  TableViewCell::layoutSubviews();
  _progressLab->setFrame(isEditing() ? platform::Rect{230, 30, 40, 28}
                                     : platform::Rect{260, 30, 40, 20});
  auto background = backgroundView();
  const bool tableEditing = [&] {
    for (auto v = superview(); v; v = v->superview())
      if (auto table = std::dynamic_pointer_cast<platform::TableView>(v)) return table->isEditing();
    return false;
  }();
  if (_mSelected) {
    if (background)
      background->setBackgroundColor(tableEditing ? platform::Color::rgb255(223, 230, 250)
                                                  : platform::Color::clearColor());
    _mSelectedIndicator->setImage(platform::Image::named("checkbox_check_big"));
  } else {
    if (background) background->setBackgroundColor(platform::Color::clearColor());
    _mSelectedIndicator->setImage(platform::Image::named("checkbox_uncheck_big"));
    setAccessoryType(platform::TableViewCellAccessory::None);
  }
}
