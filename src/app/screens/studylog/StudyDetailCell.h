#pragma once
// StudyDetailCell: the row of one listened lecture on the study details screen: its name and how
// far it is studied. Main thread only.

#include <memory>
#include <optional>
#include <string>

#include "platform/ui/Label.h"
#include "platform/ui/TableViewCell.h"

class StudyDetailCell : public platform::TableViewCell {
  CH_SHARED_OBJECT(StudyDetailCell)

 public:
  const std::shared_ptr<platform::Label>& courseTitleLab() const { return _courseTitleLab; }
  void setCourseTitleLab(std::shared_ptr<platform::Label> v) { _courseTitleLab = std::move(v); }
  const std::shared_ptr<platform::Label>& courseStateLab() const { return _courseStateLab; }
  void setCourseStateLab(std::shared_ptr<platform::Label> v) { _courseStateLab = std::move(v); }

 protected:
  StudyDetailCell(platform::TableViewCellStyle style, std::optional<std::string> reuseIdentifier);

 private:
  // The design names these without an underscore.
  std::shared_ptr<platform::Label> _courseTitleLab;
  std::shared_ptr<platform::Label> _courseStateLab;
};
