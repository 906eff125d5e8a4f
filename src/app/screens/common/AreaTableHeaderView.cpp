#include "screens/common/AreaTableHeaderView.h"

#include "platform/foundation/RunLoop.h"
#include "platform/ui/Image.h"

namespace {

constexpr platform::Color kExpandedBackground = platform::Color::rgb255(244, 142, 59);
constexpr platform::Color kLightBackground = platform::Color::rgb255(248, 249, 244);
constexpr double kHighlightSeconds = 0.5;

}  // namespace

AreaTableHeaderView::AreaTableHeaderView(const platform::Rect& frame) : View(frame) { initView(); }

AreaTableHeaderView::~AreaTableHeaderView() { platform::RunLoop::main()->cancelPerforms(this); }

void AreaTableHeaderView::initView() {
  setBackgroundColor(platform::Color::whiteColor());
  _expendImageView = platform::ImageView::create(platform::Rect{280, 20, 15, 15});
  _expendImageView->setCenter({_expendImageView->center().x, frame().height() / 2});
  _expendImageView->setTag(1);
  addSubview(_expendImageView);
  _titleLabel = platform::Label::create(platform::Rect{22, 0, 300, 55});
  _titleLabel->setFont(platform::Font::systemFont(18));
  _titleLabel->setBackgroundColor(platform::Color::clearColor());
  _titleLabel->setTag(0);
  addSubview(_titleLabel);
}

void AreaTableHeaderView::setSelectState(int state) {
  _selectState = state;
  switch (state) {
    case kExpanded:
      _expendImageView->setImage(platform::Image::named("head_jian"));
      setBackgroundColor(kExpandedBackground);
      _titleLabel->setTextColor(platform::Color::whiteColor());
      break;
    case kCollapsed:
      _expendImageView->setImage(platform::Image::named("head_jia"));
      setBackgroundColor(kLightBackground);
      _titleLabel->setTextColor(platform::Color::blackColor());
      break;
    case kHighlighted: {
      _expendImageView->setHidden(true);
      setBackgroundColor(kLightBackground);
      _titleLabel->setTextColor(platform::Color::blackColor());
      std::weak_ptr<AreaTableHeaderView> weak =
          std::static_pointer_cast<AreaTableHeaderView>(shared_from_this());
      platform::RunLoop::main()->performAfter(
          platform::seconds(kHighlightSeconds),
          [weak] {
            if (auto self = weak.lock()) self->setColorToOrinal();
          },
          this);
      break;
    }
    default:
      break;
  }
  setNeedsLayout();
}

void AreaTableHeaderView::setColorToOrinal() { setBackgroundColor(kLightBackground); }
