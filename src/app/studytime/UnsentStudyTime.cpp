#include "studytime/UnsentStudyTime.h"

#include <algorithm>

#include "dao/StudyLogDao.h"
#include "studytime/StudyBatch.h"

std::int64_t UnsentStudyTime::seconds(StudyLogDao& studyLog, const platform::Value& userId,
                                      std::int64_t year, const platform::Value& reclassId,
                                      std::int64_t cwId, std::int64_t serverMinutes) {
  platform::Dictionary row =
      studyLog.getByReClassId(reclassId, userId, platform::Value(cwId), platform::Value(year));
  const platform::Value* stored = platform::find(row, "listenedpos");
  const std::int64_t all = stored ? stored->integerValue() : 0;
  const std::int64_t counted =
      StudyBatch::marked(userId).secondsCountedBy(year, cwId, serverMinutes);
  return std::max<std::int64_t>(0, all - counted);
}
