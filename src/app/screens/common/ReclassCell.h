#pragma once
// ReclassCell: the row of one course: its name, total minutes and accumulated minutes under
// their captions "总课时：" and "累计课时：", an arrow at the left and a separator line. A
// non-zero state gives the finished look (grey text, picture "arraw_finish"); zero the normal
// look (black name, grey captions, orange accumulated minutes, picture "arraw"). The screens fill
// the labels and choose the state. Main thread only.

#include <memory>
#include <optional>
#include <string>

#include "platform/ui/TableViewCell.h"

class ReclassCell : public platform::TableViewCell {
  CH_SHARED_OBJECT(ReclassCell)

 public:
  const std::shared_ptr<platform::Label>& reclassNameLabel() const { return _reclassNameLabel; }
  void setReclassNameLabel(std::shared_ptr<platform::Label> v) { _reclassNameLabel = std::move(v); }
  const std::shared_ptr<platform::Label>& totalMinsLabel() const { return _totalMinsLabel; }
  void setTotalMinsLabel(std::shared_ptr<platform::Label> v) { _totalMinsLabel = std::move(v); }
  const std::shared_ptr<platform::Label>& lisMinsLabel() const { return _lisMinsLabel; }
  void setLisMinsLabel(std::shared_ptr<platform::Label> v) { _lisMinsLabel = std::move(v); }
  int state() const { return _state; }
  void setState(int state);

 protected:
  ReclassCell(platform::TableViewCellStyle style, std::optional<std::string> reuseIdentifier);

 private:
  void initView();

  std::shared_ptr<platform::Label> _reclassNameLabel;
  std::shared_ptr<platform::Label> _totalMinsLabel;
  std::shared_ptr<platform::Label> _lisMinsLabel;
  int _state = 0;
  std::shared_ptr<platform::ImageView> _arrawIv;
  std::shared_ptr<platform::Label> _labelZongkeshi;
  std::shared_ptr<platform::Label> _labelLeijikeshi;
  std::shared_ptr<platform::View> _splitView;
};
