#pragma once
// AcceptedStudyTime: the minutes a course server credited for one accepted study-log upload,
// lecture by lecture. A lecture's credited point is the server's minutes plus the seconds still
// on the device; the upload has just taken those seconds off the device, so the minutes are
// added to the learner's course tree at once (the stored rows and the tree in memory), whatever
// the course fetch that usually follows does. Otherwise a failed fetch would leave the lecture
// at its old minutes, and the stretch just uploaded would be credited a second time.
//
// Main thread only, like the upload.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"

class AcceptedStudyTime {
 public:
  // The minutes sent for the row of lecture `cwId` (text) of year `year` (text).
  void add(const std::string& year, const std::string& cwId, std::int64_t minutes);
  std::int64_t totalMinutes() const;

  // Adds every lecture's minutes to the stored course tree of `userId` and to the lecture and
  // its class in the global course tree.
  void creditTo(const platform::Value& userId) const;

 private:
  struct Entry {
    std::string year;
    std::int64_t cwId = 0;
    std::int64_t minutes = 0;
  };
  void creditInMemory(const Entry& entry) const;

  std::vector<Entry> entries_;
};
