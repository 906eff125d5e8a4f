#pragma once
// What the two course tabs (my courses, local courses) share: the strip of year buttons above
// their lists and the listened minutes of a course row.

#include <memory>
#include <string>
#include <vector>

#include "dao/StudyLogDao.h"
#include "model/ReClass.h"
#include "platform/ui/Button.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/View.h"

namespace yearstrip {

inline constexpr double kYearButtonWidth = 70;

// The 320 x 40 strip with its two arrows; `scroll` receives the scrolling area of the buttons.
std::shared_ptr<platform::View> makeStrip(std::shared_ptr<platform::ScrollView>& scroll);

// One button per year name ("%@年", tag = index) in `scroll`, each calling `action` when tapped.
template <class T>
std::vector<std::shared_ptr<platform::Button>> makeButtons(platform::ScrollView& scroll,
                                                           const std::vector<std::string>& names,
                                                           const std::shared_ptr<T>& target,
                                                           void (T::*action)(platform::Control&)) {
  std::vector<std::shared_ptr<platform::Button>> buttons;
  scroll.setContentSize({kYearButtonWidth * names.size(), 40});
  for (std::size_t i = 0; i < names.size(); ++i) {
    auto button = platform::Button::buttonWithType(platform::ButtonType::Custom);
    button->titleLabel()->setFont(platform::Font::systemFont(16));
    button->setTitleColor(platform::Color::blackColor());
    button->setFrame({kYearButtonWidth * i, 0, kYearButtonWidth, 40});
    button->setTitle(names[i] + "年");
    button->setTag(static_cast<int>(i));
    button->addTarget(target, action, platform::ControlEvent::TouchUpInside);
    buttons.push_back(button);
    scroll.addSubview(button);
  }
  return buttons;
}

// The server's listened minutes of `reclass` plus each lecture's unsent seconds in whole minutes
// (each lecture divided on its own), no more than the course's total.
int listenedMinutes(StudyLogDao& dao, const ReClass& reclass, int userId, std::int64_t year);

}  // namespace yearstrip
