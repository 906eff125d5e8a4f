#pragma once
// AcceptedStudyTime: what a course server credited for one accepted study-log upload, row by
// row, and its settlement on the device. A lecture's credited point is the server's minutes plus
// the seconds still on the device, so the seconds the server credited must leave the study log
// in the same write that adds their minutes to the learner's stored course tree: with only the
// first, the stretch would be credited nowhere on the device; with only the second, twice, and
// the seconds would be sent again. Adding the minutes at once also keeps a course fetch that
// fails after the upload from leaving the stretch to be credited a second time.
//
// Main thread only, like the upload.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"

class ModelDao;
class SQLTransaction;
class StudyLogDao;

class AcceptedStudyTime {
 public:
  // The upload of `userId`'s rows.
  explicit AcceptedStudyTime(platform::Value userId) : userId_(std::move(userId)) {}

  // The study-log row `rowId` of lecture `cwId` (text) of year `year` (text), sent as
  // `minutes`: exactly their seconds leave the row when the upload is settled.
  void add(const std::string& year, const std::string& cwId, const platform::Value& rowId,
           std::int64_t minutes);
  std::int64_t totalMinutes() const;

  // Settles the upload, all or nothing: in one transaction on one connection every sent row
  // loses the seconds the server credited (a row left at zero is deleted) and each lecture of
  // the user's stored course tree, with its class, gains the minutes. Only once that is
  // committed are the minutes added to the lectures and classes of the global course tree, so
  // what the screens show never counts a stretch twice. False, with nothing changed on the
  // device or in memory, when the store cannot be written (the device is full); it can be
  // tried again later.
  bool settle() const;

  // The course tree has since come from the server, which counts these minutes already: the
  // settlement then only takes the seconds off the rows, and adds no minutes on the device or
  // in memory, which would count them twice.
  void leaveTreeToServer() { treeFromServer_ = true; }

 private:
  struct Entry {
    std::string year;
    std::int64_t cwId = 0;
    platform::Value rowId;
    std::int64_t minutes = 0;
  };
  bool writeStored(StudyLogDao& studyLog, ModelDao& tree, const SQLTransaction& open) const;
  void creditInMemory(const Entry& entry) const;

  platform::Value userId_;
  std::vector<Entry> entries_;
  bool treeFromServer_ = false;
};
