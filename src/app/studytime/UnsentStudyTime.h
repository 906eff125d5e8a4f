#pragma once
// UnsentStudyTime: the seconds of a lecture heard on this device that the server has not
// credited, from which the player's credited point (and so its resume jump) is taken together
// with the server's minutes. Seconds of a marked batch that the server's figure already counts
// (the server credited the batch, its settlement has not been written) are left out, so the
// point never passes the furthest second heard here or credited there.
//
// Main thread only, like the store.

#include <cstdint>

#include "platform/foundation/Value.h"

class StudyLogDao;

class UnsentStudyTime {
 public:
  // The lecture's seconds in the store for `userId`, `year`, class `reclassId` and lecture
  // `cwId`, less those the figure `serverMinutes` the caller credits already counts.
  static std::int64_t seconds(StudyLogDao& studyLog, const platform::Value& userId,
                              std::int64_t year, const platform::Value& reclassId,
                              std::int64_t cwId, std::int64_t serverMinutes);
};
