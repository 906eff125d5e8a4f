#pragma once
// AreaTableHeaderView: a section header with a title and a plus/minus picture, used by the area
// list and the study records list. It only draws: the screen attaches its own tap recognizer,
// keeps the expansion state itself and tells the header its look through `setSelectState`:
//   0 expanded: picture "head_jian", orange background, white title;
//   1 collapsed: picture "head_jia", light background, black title;
//   2 highlighted (a region without sub-areas): picture hidden for good, light background,
//     black title, and the light background set again 0.5 s later (main run loop);
//   any other value is only stored.
// Main thread only.

#include <memory>

#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/View.h"

class AreaTableHeaderView : public platform::View {
  CH_SHARED_OBJECT(AreaTableHeaderView)

 public:
  static constexpr int kExpanded = 0;
  static constexpr int kCollapsed = 1;
  static constexpr int kHighlighted = 2;

  ~AreaTableHeaderView() override;

  int selectState() const { return _selectState; }
  void setSelectState(int state);
  // Back to the light background after the highlight.
  void setColorToOrinal();

  const std::shared_ptr<platform::Label>& titleLabel() const { return _titleLabel; }
  void setTitleLabel(std::shared_ptr<platform::Label> label) { _titleLabel = std::move(label); }
  const std::shared_ptr<platform::ImageView>& expendImageView() const { return _expendImageView; }
  void setExpendImageView(std::shared_ptr<platform::ImageView> view) {
    _expendImageView = std::move(view);
  }

 protected:
  explicit AreaTableHeaderView(const platform::Rect& frame);

 private:
  void initView();

  int _selectState = 0;
  std::shared_ptr<platform::Label> _titleLabel;
  std::shared_ptr<platform::ImageView> _expendImageView;
};
