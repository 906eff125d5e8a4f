#include "sockets/dispatch/DispatchSocketCallPool.h"

#include <type_traits>
#include <utility>

#include "sockets/dispatch/DispatchSocketDelegate.h"

DispatchSocketCallPool::~DispatchSocketCallPool() {
  platform::MutexLock lock(mutex_);
  while (free_) delete std::exchange(free_, free_->next);
}

DispatchSocketCallPool::Call* DispatchSocketCallPool::take() {
  {
    platform::MutexLock lock(mutex_);
    if (free_) {
      --freeCount_;
      return std::exchange(free_, free_->next);
    }
  }
  auto* call = new Call;
  call->pool = this;
  return call;
}

void DispatchSocketCallPool::giveBack(Call* call) {
  {
    platform::MutexLock lock(mutex_);
    if (freeCount_ < kMaxFree) {
      call->next = free_;
      free_ = call;
      ++freeCount_;
      return;
    }
  }
  delete call;
}

platform::dispatch::Queue::Work DispatchSocketCallPool::work(Call* call) {
  auto work = [call] { run(call); };
  // What std::function stores in place, without allocating: a small, trivially copyable callable.
  static_assert(std::is_trivially_copyable_v<decltype(work)> && sizeof(work) <= sizeof(void*));
  return work;
}

void DispatchSocketCallPool::run(Call* call) {
  // The socket held here keeps the pool alive past the give-back; the record goes back before the
  // delegate runs, so the calls its next requests cause can reuse it.
  auto socket = std::move(call->socket);
  auto delegate = std::move(call->delegate);
  SocketData data = std::move(call->data);
  const Kind kind = call->kind;
  const long tag = call->tag;
  const std::size_t length = call->length;
  call->pool->giveBack(call);
  switch (kind) {
    case Kind::ReadData:
      delegate->socketDidReadData(socket, data, tag);
      break;
    case Kind::ReadPartialData:
      delegate->socketDidReadPartialDataOfLength(socket, length, tag);
      break;
    case Kind::WriteData:
      delegate->socketDidWriteDataWithTag(socket, tag);
      break;
    case Kind::WritePartialData:
      delegate->socketDidWritePartialDataOfLength(socket, length, tag);
      break;
  }
}
