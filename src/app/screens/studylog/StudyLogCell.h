#pragma once
// StudyLogCell: the summary row of one course year on the study records screen: accumulated
// minutes, minutes still to study, minutes recorded on the device and the last study time.
// Main thread only.

#include <memory>
#include <optional>
#include <string>

#include "platform/ui/Label.h"
#include "platform/ui/TableViewCell.h"

class StudyLogCell : public platform::TableViewCell {
  CH_SHARED_OBJECT(StudyLogCell)

 public:
  const std::shared_ptr<platform::Label>& courseTimeLab() const { return _courseTimeLab; }
  void setCourseTimeLab(std::shared_ptr<platform::Label> v) { _courseTimeLab = std::move(v); }
  const std::shared_ptr<platform::Label>& notStudyTimeLab() const { return _notStudyTimeLab; }
  void setNotStudyTimeLab(std::shared_ptr<platform::Label> v) { _notStudyTimeLab = std::move(v); }
  const std::shared_ptr<platform::Label>& localCourseTimeLab() const { return _localCourseTimeLab; }
  void setLocalCourseTimeLab(std::shared_ptr<platform::Label> v) {
    _localCourseTimeLab = std::move(v);
  }
  const std::shared_ptr<platform::Label>& lastStudyTimeLab() const { return _lastStudyTimeLab; }
  void setLastStudyTimeLab(std::shared_ptr<platform::Label> v) { _lastStudyTimeLab = std::move(v); }

 protected:
  StudyLogCell(platform::TableViewCellStyle style, std::optional<std::string> reuseIdentifier);

 private:
  // The design names these without an underscore.
  std::shared_ptr<platform::Label> _courseTimeLab;
  std::shared_ptr<platform::Label> _notStudyTimeLab;
  std::shared_ptr<platform::Label> _localCourseTimeLab;
  std::shared_ptr<platform::Label> _lastStudyTimeLab;
};
