#pragma once
// LectureInTree: a lecture of a learner's course tree with the class holding it, found by year
// and lecture id; what the study-time rule reads and raises of a tree.

#include <cstdint>
#include <memory>
#include <vector>

#include "model/Course.h"
#include "model/CourseWare.h"
#include "model/ReClass.h"

struct LectureInTree {
  std::shared_ptr<ReClass> reClass;
  std::shared_ptr<CourseWare> lecture;

  // Every place of lecture `cwId` in the year `year` of `tree` (a class may list it once).
  static std::vector<LectureInTree> findAll(const model::List<Course>& tree, std::int64_t year,
                                            std::int64_t cwId);
  // Raises the lecture's minutes to at least `minutes`, and its class by as much.
  void raiseTo(std::int64_t minutes) const;
};
