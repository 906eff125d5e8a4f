#include "screens/studylog/StudyLogCell.h"

#include "screens/common/ScreenLook.h"

namespace {

std::shared_ptr<platform::Label> rowLabel(platform::View& content, const platform::Rect& frame,
                                          platform::Color color, const std::string& text = {}) {
  auto label = platform::Label::create(frame);
  label->setBackgroundColor(platform::Color::clearColor());
  label->setFont(platform::Font::systemFont(14));
  label->setTextColor(color);
  label->setText(text);
  content.addSubview(label);
  return label;
}

}  // namespace

StudyLogCell::StudyLogCell(platform::TableViewCellStyle style,
                           std::optional<std::string> reuseIdentifier)
    : TableViewCell(style, std::move(reuseIdentifier)) {
  auto& content = *contentView();
  const auto grey = screenlook::kCaptionGrey;
  const auto orange = screenlook::kAccentOrange;
  rowLabel(content, {22, 5, 70, 20}, grey, "累计课时：");
  _courseTimeLab = rowLabel(content, {92, 5, 60, 20}, orange);
  rowLabel(content, {162, 5, 70, 20}, grey, "未学课时：");
  _notStudyTimeLab = rowLabel(content, {232, 5, 60, 20}, orange);
  rowLabel(content, {22, 25, 70, 20}, grey, "本地课程：");
  _localCourseTimeLab = rowLabel(content, {92, 25, 60, 20}, orange);
  rowLabel(content, {22, 45, 100, 20}, grey, "最后学习时间：");
  _lastStudyTimeLab = rowLabel(content, {122, 45, 200, 20}, grey);
}
