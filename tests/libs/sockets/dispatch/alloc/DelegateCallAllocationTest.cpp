// The delegate calls every read and write makes reach the delegate without a heap allocation:
// counted by an operator new of this program's own, on the calling thread only, so the other
// threads of the process (the reactor, the pool's workers) cannot disturb the count.

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "platform/dispatch/Queue.h"
#include "sockets/dispatch/DispatchSocketCallPool.h"
#include "sockets/dispatch/DispatchSocketDelegate.h"

namespace {
thread_local std::size_t allocationsOnThisThread = 0;
}  // namespace

void* operator new(std::size_t size) {
  ++allocationsOnThisThread;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

class CountingDelegate : public DispatchSocketDelegate {
 public:
  void socketDidReadData(const std::shared_ptr<DispatchSocket>&, const SocketData& data,
                         long) override {
    ++reads;
    bytes += data.length();
  }
  void socketDidReadPartialDataOfLength(const std::shared_ptr<DispatchSocket>&, std::size_t length,
                                        long) override {
    bytes += length;
  }
  void socketDidWriteDataWithTag(const std::shared_ptr<DispatchSocket>&, long) override {
    ++writes;
  }
  void socketDidWritePartialDataOfLength(const std::shared_ptr<DispatchSocket>&, std::size_t length,
                                         long) override {
    bytes += length;
  }
  int reads = 0;
  int writes = 0;
  std::size_t bytes = 0;
};

// One call as the socket makes it: a record from the pool, the closure the delegate queue
// would hold, and the call itself when that closure runs.
void makeCall(DispatchSocketCallPool& pool, const std::shared_ptr<CountingDelegate>& delegate,
              DispatchSocketCallPool::Kind kind, const SocketData& data, long tag) {
  auto* call = pool.take();
  call->kind = kind;
  call->delegate = delegate;
  call->data = data;
  call->tag = tag;
  call->length = 3;
  platform::dispatch::Queue::Work work = DispatchSocketCallPool::work(call);
  work();
}

}  // namespace

TEST(DelegateCallAllocationTest, ReadAndWriteCallsAllocateNothingOnceTheFirstRecordIsMade) {
  using Kind = DispatchSocketCallPool::Kind;
  DispatchSocketCallPool pool;
  auto delegate = std::make_shared<CountingDelegate>();
  const SocketData line = SocketData::copy("a line\n", 7);
  makeCall(pool, delegate, Kind::ReadData, line, 0);  // the pool's first record
  const std::size_t before = allocationsOnThisThread;
  for (long tag = 1; tag <= 1000; ++tag) {
    makeCall(pool, delegate, Kind::ReadData, line, tag);
    makeCall(pool, delegate, Kind::ReadPartialData, {}, tag);
    makeCall(pool, delegate, Kind::WriteData, {}, tag);
    makeCall(pool, delegate, Kind::WritePartialData, {}, tag);
  }
  EXPECT_EQ(allocationsOnThisThread - before, 0u);
  EXPECT_EQ(delegate->reads, 1001);
  EXPECT_EQ(delegate->writes, 1000);
  EXPECT_EQ(delegate->bytes, 1001u * 7 + 2000u * 3);
}

// Calls queued before any has run each take a record of their own, and every record comes back.
TEST(DelegateCallAllocationTest, CallsInFlightTogetherEachGetARecordAndAllComeBack) {
  using Kind = DispatchSocketCallPool::Kind;
  DispatchSocketCallPool pool;
  auto delegate = std::make_shared<CountingDelegate>();
  std::vector<platform::dispatch::Queue::Work> queued;
  for (long tag = 0; tag < 4; ++tag) {
    auto* call = pool.take();
    call->kind = Kind::WriteData;
    call->delegate = delegate;
    call->tag = tag;
    queued.push_back(DispatchSocketCallPool::work(call));
  }
  for (auto& work : queued) work();
  EXPECT_EQ(delegate->writes, 4);
  EXPECT_EQ(delegate.use_count(), 1);  // no record holds the delegate any longer
  const std::size_t before = allocationsOnThisThread;
  for (long tag = 0; tag < 4; ++tag) makeCall(pool, delegate, Kind::WriteData, {}, tag);
  EXPECT_EQ(allocationsOnThisThread - before, 0u);
}
