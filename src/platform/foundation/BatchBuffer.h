#pragma once
// BatchBuffer: the consuming side of a hand-over from posting threads to one consumer. Posters
// append to a plain vector under their own lock; the consumer, holding that lock once, takes all
// of it with `refill` and then runs the items from its own buffer without the lock, oldest
// first. The two vectors trade places on each refill, so a steady stream reuses their storage
// instead of allocating per item; storage a burst grew beyond a few thousand items is let go
// once the batches no longer need it.
//
// Only the consumer touches a BatchBuffer: one thread, or whichever thread holds the right to
// consume at the time.

#include <cstddef>
#include <iterator>
#include <utility>
#include <vector>

namespace platform {

template <class T>
class BatchBuffer {
 public:
  bool empty() const { return next_ == items_.size(); }
  std::size_t size() const { return items_.size() - next_; }

  // Takes the oldest item; the buffer must not be empty. Taking the last one clears
  // the buffer here, outside the posters' lock.
  T take() {
    T item = std::move(items_[next_++]);
    if (empty()) {
      // A burst's storage is kept while batches fill a good part of it, and let go after one
      // that does not, so a steady stream does not grow it afresh for every batch.
      bool oversized = items_.capacity() > kKeptCapacity && items_.size() < items_.capacity() / 8;
      items_.clear();
      next_ = 0;
      if (oversized) std::vector<T>().swap(items_);
    }
    return item;
  }

  // Moves everything in `posted` behind what is left here, leaving `posted` empty. Called with
  // the posters' lock held; when this buffer is empty (the usual case) the two trade places.
  void refill(std::vector<T>& posted) {
    if (empty()) {
      items_.swap(posted);
      return;
    }
    std::move(posted.begin(), posted.end(), std::back_inserter(items_));
    posted.clear();
  }

 private:
  static constexpr std::size_t kKeptCapacity = 4096;

  std::vector<T> items_;
  std::size_t next_ = 0;
};

}  // namespace platform
