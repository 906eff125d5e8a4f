#pragma once
// StudyBatch: the study-log rows of one learner that one upload carries, marked in the store
// before the upload goes out, and what becomes of them when its outcome is known.
//
// Marking writes, in each row's `sync` column, the lecture's minutes on the server as a course
// tree fetched just before sending shows them. Steps heard afterwards go to new rows, never
// into a marked one. Whatever the process does next (an answer, none, an end by kill), the
// store then knows which seconds may be on the server and what the server showed before:
// - accepted: `settle` takes the credited seconds off the rows and raises the stored tree;
// - refused: `release` unmarks them, crediting nothing;
// - in doubt: the rows stay marked, and `resolve` decides lecture by lecture from a course tree
//   fetched later: a lecture whose server minutes rose by the batch's minutes, or reached the
//   lecture's total, was credited and is settled; any other lecture the tree holds is released,
//   to go again with the next batch. A lecture the tree does not hold stays marked.
// Each of these is one transaction: all of it is written or none.
//
// Main thread only, like the store.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "model/Course.h"
#include "platform/foundation/Value.h"

class ModelDao;
class SQLTransaction;
class StudyLogDao;

class StudyBatch {
 public:
  // Marks the unmarked rows of `userId` as one batch with the minutes of `tree`, and answers
  // every marked row of the user (none: nothing to send). Absent, with nothing marked, when
  // the store cannot be written (the device is full).
  static std::optional<StudyBatch> mark(const platform::Value& userId,
                                        const model::List<Course>& tree);
  // The marked rows of `userId` (a batch in doubt after a restart, or the one in flight).
  static StudyBatch marked(const platform::Value& userId);
  // The learners with marked rows on this device.
  static std::vector<platform::Value> learnersWithMarkedRows();

  bool empty() const { return entries_.empty(); }
  std::int64_t totalMinutes() const;
  // The rows by year text, each {"cwid", "createdTime", "lastUpdateTime", "listenedPos", "id"},
  // as the upload document takes them.
  std::map<std::string, std::vector<platform::Dictionary>> uploadRows() const;

  // The server accepted the batch. False, with nothing changed on the device or in memory,
  // when the store cannot be written; it can be tried again later.
  bool settle() const;
  // The server refused the batch: every row is unmarked, nothing credited.
  bool release() const;
  // The outcome was never heard: each lecture is judged against `serverTree`, the learner's
  // course tree as the server answers it now.
  bool resolve(const model::List<Course>& serverTree) const;

  // The seconds of lecture `cwId` of `year` in this batch that a lecture figure of
  // `serverMinutes` already counts (its rows' sent minutes, once the server shows them).
  std::int64_t secondsCountedBy(std::int64_t year, std::int64_t cwId,
                                std::int64_t serverMinutes) const;

 private:
  struct Entry {
    platform::Dictionary row;
    std::int64_t year = 0;
    std::int64_t cwId = 0;
    std::int64_t seconds = 0;
    std::int64_t minutes = 0;
    std::int64_t serverMinutesBefore = 0;
    // What the server shows for the lecture once it credited the batch.
    std::int64_t creditedFigure() const { return serverMinutesBefore + minutes; }
  };
  enum class Verdict { kCredited, kNotCredited, kUnknown };

  explicit StudyBatch(platform::Value userId) : userId_(std::move(userId)) {}
  Verdict verdict(const Entry& entry, const model::List<Course>& serverTree) const;
  // Writes each entry's verdict in one transaction; then credits the in-memory tree.
  bool apply(const std::vector<Verdict>& verdicts) const;
  bool applyStored(StudyLogDao& studyLog, ModelDao& tree, const SQLTransaction& open,
                   const std::vector<Verdict>& verdicts) const;

  platform::Value userId_;
  std::vector<Entry> entries_;
};
