#pragma once
// WaitingSettlement: the settlement of an accepted upload that the device could not write (no
// room left). Its rows stay marked in the store, so nothing of it is lost when the process
// ends: after a restart the batch is in doubt and is resolved from the next course tree. While
// the process lives, it is written as soon as any other write succeeds (a step or listen
// history stored, a course tree stored) and before the next upload.
//
// One for the process (`shared()`). Main thread only.

#include <optional>

#include "studytime/StudyBatch.h"

class WaitingSettlement {
 public:
  static WaitingSettlement& shared();

  // Keeps `batch`, accepted by the server, to be settled later.
  void keep(StudyBatch batch) { batch_ = std::move(batch); }
  bool isWaiting() const { return batch_.has_value(); }
  // Settles what waits; true when nothing waits any more.
  bool write();
  // Forgets what waits (a test's fresh start; the rows stay marked).
  void clear() { batch_.reset(); }

 private:
  std::optional<StudyBatch> batch_;
};
