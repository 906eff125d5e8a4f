#include "platform/foundation/Thread.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <future>
#include <optional>

namespace platform {

namespace {

// Our own record of the name: the kernel keeps only 15 bytes of it.
thread_local std::optional<std::string> currentThreadName;

constexpr std::size_t kKernelNameBytes = 15;

// The longest prefix of `name` that fits the kernel's limit without cutting a UTF-8 character.
std::string kernelName(const std::string& name) {
  if (name.size() <= kKernelNameBytes) return name;
  std::size_t end = kKernelNameBytes;
  while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
  return name.substr(0, end);
}

}  // namespace

std::shared_ptr<Thread> Thread::start(std::string name, std::function<void()> body) {
  std::shared_ptr<Thread> thread(new Thread(std::move(name)));
  thread->thread_ = std::thread([name = thread->name_, body = std::move(body)] {
    setCurrentName(name);
    if (body) body();
  });
  return thread;
}

std::shared_ptr<Thread> Thread::startWithRunLoop(std::string name) {
  std::shared_ptr<Thread> thread(new Thread(std::move(name)));
  std::promise<std::shared_ptr<RunLoop>> made;
  auto loopFuture = made.get_future();
  thread->thread_ = std::thread(
      [name = thread->name_, stopping = thread->stopping_, made = std::move(made)]() mutable {
        setCurrentName(name);
        auto loop = RunLoop::current();
        made.set_value(loop);
        // One pass at a time rather than one `run()`: a stop consumed by a nested run inside
        // some work still ends the thread once that work returns.
        while (!stopping->load()) loop->runOnce(std::nullopt);
      });
  thread->runLoop_ = loopFuture.get();
  return thread;
}

Thread::~Thread() {
  if (detached_) return;
  stop();
  if (!thread_.joinable()) return;
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();
    return;
  }
  thread_.join();
}

void Thread::stop() {
  stopping_->store(true);
  if (runLoop_) runLoop_->stop();
}

void Thread::join() {
  if (!thread_.joinable() || thread_.get_id() == std::this_thread::get_id()) return;
  thread_.join();
}

void Thread::detach() {
  detached_ = true;
  if (thread_.joinable()) thread_.detach();
}

std::string Thread::currentName() {
  if (currentThreadName) return *currentThreadName;
  return isMainThread() ? "main" : "";
}

void Thread::setCurrentName(const std::string& name) {
  currentThreadName = name;
  pthread_setname_np(pthread_self(), kernelName(name).c_str());
}

bool Thread::isMainThread() {
  // Asked on every queue and logging call: worked out once per thread.
  thread_local bool isMain = currentId() == static_cast<long>(getpid());
  return isMain;
}

long Thread::currentId() {
  thread_local long id = static_cast<long>(syscall(SYS_gettid));
  return id;
}

}  // namespace platform
