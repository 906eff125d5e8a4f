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
  const std::shared_ptr<platform::Label>& courseTimeLab() const { return courseTimeLab_; }
  void setCourseTimeLab(std::shared_ptr<platform::Label> v) { courseTimeLab_ = std::move(v); }
  const std::shared_ptr<platform::Label>& notStudyTimeLab() const { return notStudyTimeLab_; }
  void setNotStudyTimeLab(std::shared_ptr<platform::Label> v) { notStudyTimeLab_ = std::move(v); }
  const std::shared_ptr<platform::Label>& localCourseTimeLab() const { return localCourseTimeLab_; }
  void setLocalCourseTimeLab(std::shared_ptr<platform::Label> v) {
    localCourseTimeLab_ = std::move(v);
  }
  const std::shared_ptr<platform::Label>& lastStudyTimeLab() const { return lastStudyTimeLab_; }
  void setLastStudyTimeLab(std::shared_ptr<platform::Label> v) { lastStudyTimeLab_ = std::move(v); }

 protected:
  StudyLogCell(platform::TableViewCellStyle style, std::optional<std::string> reuseIdentifier);

 private:
  // The design names these without an underscore.
  std::shared_ptr<platform::Label> courseTimeLab_;
  std::shared_ptr<platform::Label> notStudyTimeLab_;
  std::shared_ptr<platform::Label> localCourseTimeLab_;
  std::shared_ptr<platform::Label> lastStudyTimeLab_;
};
