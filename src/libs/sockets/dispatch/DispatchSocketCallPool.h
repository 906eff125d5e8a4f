#pragma once
// DispatchSocketCallPool: carries a socket's frequent delegate calls (a read's data, a write's
// completion, the progress of either) to the delegate queue without allocating. Each call travels
// in a record of the socket's own pool, and what the queue holds is a closure of one pointer to
// it, which std::function keeps in place; the record goes back to the pool as the call runs, so
// a socket in steady use keeps reusing the same one or two. The rarer calls (connect, accept,
// disconnect, TLS) keep their general closures.
//
// Threads: records are taken on the socket queue and given back on the delegate queue; the free
// list is guarded. A record in flight holds its socket, and so the pool, alive.

#include <cstddef>
#include <memory>

#include "platform/dispatch/Queue.h"
#include "platform/foundation/Mutex.h"
#include "sockets/dispatch/SocketData.h"

class DispatchSocket;
class DispatchSocketDelegate;

class DispatchSocketCallPool {
 public:
  enum class Kind { ReadData, ReadPartialData, WriteData, WritePartialData };

  struct Call {
    Kind kind = Kind::ReadData;
    std::shared_ptr<DispatchSocketDelegate> delegate;
    std::shared_ptr<DispatchSocket> socket;  // may be null (tests); the delegate is told so
    SocketData data;                         // ReadData
    long tag = 0;
    std::size_t length = 0;  // the partial calls
    DispatchSocketCallPool* pool = nullptr;
    Call* next = nullptr;  // on the free list
  };

  DispatchSocketCallPool() = default;
  DispatchSocketCallPool(const DispatchSocketCallPool&) = delete;
  DispatchSocketCallPool& operator=(const DispatchSocketCallPool&) = delete;
  ~DispatchSocketCallPool();

  // A record to fill: a free one, else a new one.
  Call* take() EXCLUDES(mutex_);
  // The work that makes `call` on its delegate and gives the record back; queue it once.
  static platform::dispatch::Queue::Work work(Call* call);

 private:
  static void run(Call* call);
  void giveBack(Call* call) EXCLUDES(mutex_);

  // More would only be kept for a burst that may never come again.
  static constexpr std::size_t kMaxFree = 8;

  // Guarded by mutex_.
  platform::Mutex mutex_;
  Call* free_ GUARDED_BY(mutex_) = nullptr;
  std::size_t freeCount_ GUARDED_BY(mutex_) = 0;
};
