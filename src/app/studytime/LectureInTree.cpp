#include "studytime/LectureInTree.h"

std::vector<LectureInTree> LectureInTree::findAll(const model::List<Course>& tree,
                                                  std::int64_t year, std::int64_t cwId) {
  std::vector<LectureInTree> found;
  for (const auto& course : tree) {
    if (!course || course->year() != year || !course->reClasses()) continue;
    for (const auto& rc : *course->reClasses()) {
      if (!rc || !rc->cws()) continue;
      for (const auto& cw : *rc->cws())
        if (cw && cw->cwId() == cwId) found.push_back(LectureInTree{rc, cw});
    }
  }
  return found;
}

void LectureInTree::raiseTo(std::int64_t minutes) const {
  const std::int64_t now = lecture->listenedMins().value_or(0);
  if (now >= minutes) return;
  lecture->setListenedMins(minutes);
  reClass->setListenedMins(reClass->listenedMins().value_or(0) + (minutes - now));
}
