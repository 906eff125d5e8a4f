#pragma once
// DownLoadCell: the row of one lecture on the download list: its name, a state text chosen by a
// state number, a percentage, and in edit mode a tick that tells whether the row is marked for
// deletion. It only draws; the screen decides what each state means.
//   0 "等待下载"  1 "完成"  4 "正在下载" (percentage kept)
//   2, 5 "已暂停"  3 "轻点重试" (percentage emptied)  6 both texts emptied
//   any other number is stored and changes no text.
// Main thread only.

#include <memory>
#include <optional>
#include <string>

#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/TableViewCell.h"

class DownLoadCell : public platform::TableViewCell {
  CH_SHARED_OBJECT(DownLoadCell)

 public:
  const std::shared_ptr<platform::Label>& nameLabel() const { return _nameLabel; }
  void setNameLabel(std::shared_ptr<platform::Label> v) { _nameLabel = std::move(v); }
  const std::shared_ptr<platform::Label>& stateLab() const { return _stateLab; }
  void setStateLab(std::shared_ptr<platform::Label> v) { _stateLab = std::move(v); }
  const std::shared_ptr<platform::Label>& progressLab() const { return _progressLab; }
  void setProgressLab(std::shared_ptr<platform::Label> v) { _progressLab = std::move(v); }
  bool mSelected() const { return _mSelected; }
  void setMSelected(bool v) { _mSelected = v; }
  int donwloadState() const { return _donwloadState; }
  void setDonwloadState(int state);
  // Inverts the mark and asks for a new layout.
  void changeMSelectedState();
  void layoutSubviews() override;

  const std::shared_ptr<platform::ImageView>& mSelectedIndicator() const {
    return _mSelectedIndicator;
  }

 protected:
  DownLoadCell(platform::TableViewCellStyle style, std::optional<std::string> reuseIdentifier);

 private:
  std::shared_ptr<platform::Label> _nameLabel;
  std::shared_ptr<platform::Label> _stateLab;
  std::shared_ptr<platform::Label> _progressLab;
  bool _mSelected = false;
  int _donwloadState = 0;
  std::shared_ptr<platform::ImageView> _mSelectedIndicator;
};
