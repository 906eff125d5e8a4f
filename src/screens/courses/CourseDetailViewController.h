#pragma once
// CourseDetailViewController: the lectures of one course, opened from a row of my courses. For
// now a plain screen titled with the course's name; its lecture list and downloads come with the
// lecture screens.

#include <memory>

#include "model/ReClass.h"
#include "platform/ui/ViewController.h"

class CourseDetailViewController : public platform::ViewController {
  CH_SHARED_OBJECT(CourseDetailViewController)

 public:
  const std::shared_ptr<ReClass>& currReclass() const { return _currReclass; }
  void setCurrReclass(std::shared_ptr<ReClass> reclass) {
    _currReclass = std::move(reclass);
    setTitle(_currReclass ? _currReclass->reClassName() : std::nullopt);
  }

 protected:
  CourseDetailViewController() = default;

 private:
  std::shared_ptr<ReClass> _currReclass;
};
