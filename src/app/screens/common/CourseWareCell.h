#pragma once
// CourseWareCell: the row of one lecture: its name, an arrow at the left and a separator line.
// A non-zero state gives the finished look (grey name, picture "arraw_finish"); zero the normal
// look (black name, picture "arraw"). Main thread only.

#include <memory>
#include <optional>
#include <string>

#include "platform/ui/TableViewCell.h"

class CourseWareCell : public platform::TableViewCell {
  CH_SHARED_OBJECT(CourseWareCell)

 public:
  const std::shared_ptr<platform::Label>& reclassNameLabel() const { return _reclassNameLabel; }
  void setReclassNameLabel(std::shared_ptr<platform::Label> v) { _reclassNameLabel = std::move(v); }
  int state() const { return _state; }
  void setState(int state);

 protected:
  CourseWareCell(platform::TableViewCellStyle style, std::optional<std::string> reuseIdentifier);

 private:
  void initView();

  std::shared_ptr<platform::Label> _reclassNameLabel;
  int _state = 0;
  std::shared_ptr<platform::ImageView> _arrawIv;
  std::shared_ptr<platform::View> _splitView;
};
