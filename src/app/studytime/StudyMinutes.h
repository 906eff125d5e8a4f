#pragma once
// StudyMinutes: the minutes an upload carries for a study-log row, the one rounding rule the
// server credits by. A row of 21 to 59 seconds counts one minute; any other is its seconds over
// sixty, truncated. The upload document, the batch settlement and the resume point all take the
// minutes from here, so what leaves the device is always what the server credited.

#include <cstdint>
#include <string>

class StudyMinutes {
 public:
  // The minutes of a row whose "listenedPos" reads `listenedPos` (its leading number).
  static int forSeconds(const std::string& listenedPos);
  static int forSeconds(std::int64_t seconds) { return forSeconds(std::to_string(seconds)); }
};
