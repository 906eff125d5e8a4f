#include "screens/common/YearStrip.h"

#include <algorithm>

#include "platform/ui/ImageView.h"
#include "screens/common/ScreenLook.h"

namespace yearstrip {

std::shared_ptr<platform::View> makeStrip(std::shared_ptr<platform::ScrollView>& scroll) {
  auto strip = screenlook::filledView({0, 0, 320, 40}, platform::Color::rgb255(245, 245, 245));
  auto left = platform::ImageView::create(platform::Rect{10, 14, 7, 11});
  left->setImage(platform::Image::named("arraw_left"));
  strip->addSubview(left);
  auto right = platform::ImageView::create(platform::Rect{302, 14, 7, 11});
  right->setImage(platform::Image::named("arraw_right"));
  strip->addSubview(right);
  scroll = platform::ScrollView::create(platform::Rect{20, 0, 280, 40});
  scroll->setScrollEnabled(true);
  scroll->setShowsHorizontalScrollIndicator(false);
  strip->addSubview(scroll);
  return strip;
}

int listenedMinutes(StudyLogDao& dao, const ReClass& reclass, int userId, std::int64_t year) {
  std::int64_t local = 0;
  if (reclass.cws()) {
    for (const auto& lecture : *reclass.cws()) {
      platform::Dictionary row = dao.getByReClassId(
          platform::Value(screenlook::numberText(reclass.reClassId())), platform::Value(userId),
          platform::Value(screenlook::numberText(lecture->cwId())), platform::Value(year));
      if (const platform::Value* seconds = platform::find(row, "listenedpos"))
        local += seconds->integerValue() / 60;
    }
  }
  return static_cast<int>(
      std::min(local + reclass.listenedMins().value_or(0), reclass.totalMins().value_or(0)));
}

}  // namespace yearstrip
