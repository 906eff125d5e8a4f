#include "logging/LGLog.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <unordered_set>

#include "logging/LGLogBacklog.h"
#include "logging/LGLoggerNode.h"
#include "platform/dispatch/Group.h"
#include "platform/foundation/ApplicationNotifications.h"
#include "platform/foundation/Assert.h"
#include "platform/foundation/Mutex.h"

using platform::dispatch::Group;
using platform::dispatch::Queue;

// Waiting for the logging queue: a message that holds a backlog slot or not, or a piece of work.
struct LGLogPendingItem {
  std::shared_ptr<LGLogMessage> message;
  bool holdsBacklogSlot = false;
  std::function<void()> work;
};

namespace {

constexpr long kBacklog = 1000;
// Callers blocked by a full backlog go on together once it has drained to this.
constexpr long kBacklogLowWater = kBacklog / 2;
constexpr const char* kArchitectureFailure = "Core architecture requirement failure";

// The logging queue carries this key's own address as its specific value.
const char kLoggingQueueKey = 0;

struct State {
  // Set before start, read-only after.
  std::shared_ptr<Queue> queue;
  std::shared_ptr<Group> group;
  LGLogBacklog backlog{kBacklog, kBacklogLowWater};
  unsigned processorCount = 1;
  platform::ObserverToken terminateObserver;

  // Owned by the logging queue.
  std::vector<std::shared_ptr<LGLoggerNode>> loggers;

  // Guarded by pendingMutex: asynchronous messages and work for the logging queue, in the order
  // they were queued, not yet taken by a drain. One drain at a time waits on the logging queue
  // (drainQueued) and takes everything pending when it runs, so a busy queue hands messages
  // over in batches instead of one queue item each. Asynchronous work goes through this list
  // too, so it keeps its place among the messages.
  platform::Mutex pendingMutex;
  std::vector<LGLogPendingItem> pending GUARDED_BY(pendingMutex);
  bool drainQueued GUARDED_BY(pendingMutex) = false;

  // Guarded by deliveryMutex: the queues of attached loggers, mirrored from `loggers` so any
  // thread can tell whether it runs on one of them.
  platform::Mutex deliveryMutex;
  std::unordered_multiset<const Queue*> deliveryQueues GUARDED_BY(deliveryMutex);

  // Guarded by classesMutex.
  platform::Mutex classesMutex;
  std::vector<std::shared_ptr<const LGLogClass>> classes GUARDED_BY(classesMutex);
};

State* gState = nullptr;
std::once_flag gOnce;

unsigned hostProcessorCount() {
  long count = sysconf(_SC_NPROCESSORS_CONF);
  return count > 0 ? static_cast<unsigned>(count) : 1;
}

State& state() {
  LGLog::initialize();
  return *gState;
}

std::string formatText(const char* format, va_list args) {
  // Most messages fit the buffer: formatted once, copied once.
  char buffer[512];
  va_list copy;
  va_copy(copy, args);
  int length = std::vsnprintf(buffer, sizeof buffer, format, copy);
  va_end(copy);
  if (length <= 0) return {};
  if (static_cast<std::size_t>(length) < sizeof buffer)
    return std::string(buffer, static_cast<std::size_t>(length));
  std::string text(static_cast<std::size_t>(length), '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, args);
  return text;
}

// The workers own the logger list without a lock because they run only on the logging queue;
// debug builds check that they do.
State& stateOnLoggingQueue([[maybe_unused]] const char* where) {
#ifndef NDEBUG
  platform::assertThat(LGLog::isOnLoggingQueue(),
                       std::string(where) + " used off the logging queue");
#endif
  return *gState;
}

std::shared_ptr<Queue> queueForLogger(LGLogger& logger) {
  if (auto queue = logger.loggerQueue()) return queue;
  return Queue::serial(logger.loggerName().value_or(std::string()));
}

}  // namespace

void LGLog::initialize() {
  std::call_once(gOnce, [] {
    // Never destroyed: messages may be logged during static teardown.
    auto* s = new State;
    s->loggers.reserve(4);
    s->queue = Queue::serial("logging.core");
    s->group = Group::make();
    s->queue->setSpecific(&kLoggingQueueKey, const_cast<char*>(&kLoggingQueueKey));
    s->processorCount = hostProcessorCount();
    gState = s;
    s->terminateObserver = platform::NotificationCenter::defaultCenter().addObserver(
        platform::kApplicationWillTerminateNotification,
        [](const platform::Notification& n) { LGLog::applicationWillTerminate(n); });
  });
}

std::shared_ptr<Queue> LGLog::loggingQueue() { return state().queue; }

void LGLog::applicationWillTerminate(const platform::Notification&) { flushLog(); }

void LGLog::addLogger(std::shared_ptr<LGLogger> logger) {
  if (!logger) return;
  queueOnLoggingQueue([logger] { lt_addLogger(logger); });
}

void LGLog::removeLogger(const std::shared_ptr<LGLogger>& logger) {
  if (!logger) return;
  queueOnLoggingQueue([logger] { lt_removeLogger(logger); });
}

void LGLog::removeAllLoggers() {
  queueOnLoggingQueue([] { lt_removeAllLoggers(); });
}

// Appends `item` to the pending list, queueing a drain unless one already waits. The drain is
// queued under the lock, so the logging queue sees drains and everything else queued on it in
// the order the items were pending.
void LGLog::queuePending(LGLogPendingItem item) {
  State& s = state();
  platform::MutexLock lock(s.pendingMutex);
  s.pending.push_back(std::move(item));
  if (s.drainQueued) return;
  s.drainQueued = true;
  s.queue->async([] { lt_drain(); });
}

void LGLog::queueOnLoggingQueue(std::function<void()> work) {
  queuePending(LGLogPendingItem{nullptr, false, std::move(work)});
}

bool LGLog::isOnLoggingQueue() {
  state();
  return Queue::getCurrentSpecific(&kLoggingQueueKey) != nullptr;
}

bool LGLog::isOnDeliveryQueue() {
  if (isOnLoggingQueue()) return true;
  auto current = Queue::current();
  if (!current) return false;
  State& s = state();
  platform::MutexLock lock(s.deliveryMutex);
  return s.deliveryQueues.count(current.get()) > 0;
}

void LGLog::queueLogMessage(std::shared_ptr<LGLogMessage> message, bool asynchronously) {
  State& s = state();
  if (!asynchronously) {
    // Waiting here for the logging queue (or for a logger whose queue we hold) never ends.
    platform::assertThat(!isOnDeliveryQueue(), kArchitectureFailure);
  }
  // Most calls find room at once; only a full backlog needs to know where the caller runs.
  bool holdsSlot = s.backlog.tryAcquire();
  if (!holdsSlot && !(asynchronously && isOnDeliveryQueue())) {
    s.backlog.acquire();
    holdsSlot = true;
  }
  // Otherwise the full backlog drains only through the queue this caller holds: the message
  // goes past the bound rather than wait for ever.
  if (asynchronously) {
    queuePending(LGLogPendingItem{std::move(message), holdsSlot, nullptr});
  } else {
    // Queued behind the drain that holds this caller's earlier messages.
    s.queue->sync([&] { lt_log(message, holdsSlot); });
  }
}

void LGLog::log(bool asynchronous, int level, int flag, int context, const char* file,
                const char* function, int line, const platform::Value& tag, const char* format,
                ...) {
  if (!format) return;
  va_list args;
  va_start(args, format);
  logArgs(asynchronous, level, flag, context, file, function, line, tag, format, args);
  va_end(args);
}

void LGLog::logArgs(bool asynchronous, int level, int flag, int context, const char* file,
                    const char* function, int line, const platform::Value& tag, const char* format,
                    va_list args) {
  if (!format) return;
  auto message = std::make_shared<LGLogMessage>(formatText(format, args), level, flag, context,
                                                file, function, line, tag, 0);
  queueLogMessage(std::move(message), asynchronous);
}

void LGLog::flushLog() {
  platform::assertThat(!isOnDeliveryQueue(), kArchitectureFailure);
  state().queue->sync([] { lt_flush(); });
}

void LGLog::lt_addLogger(const std::shared_ptr<LGLogger>& logger) {
  State& s = stateOnLoggingQueue("LGLog::lt_addLogger");
  auto queue = queueForLogger(*logger);
  s.loggers.push_back(LGLoggerNode::nodeWithLogger(logger, queue));
  {
    platform::MutexLock lock(s.deliveryMutex);
    s.deliveryQueues.insert(queue.get());
  }
  if (logger->implements(LGLogger::Optional::DidAddLogger)) {
    queue->async([logger] { logger->didAddLogger(); });
  }
}

void LGLog::lt_removeLogger(const std::shared_ptr<LGLogger>& logger) {
  State& s = stateOnLoggingQueue("LGLog::lt_removeLogger");
  auto it = std::find_if(s.loggers.begin(), s.loggers.end(),
                         [&](const auto& node) { return node->logger() == logger; });
  if (it == s.loggers.end()) return;
  auto node = *it;
  if (logger->implements(LGLogger::Optional::WillRemoveLogger)) {
    node->loggerQueue()->async([logger] { logger->willRemoveLogger(); });
  }
  s.loggers.erase(it);
  platform::MutexLock lock(s.deliveryMutex);
  s.deliveryQueues.erase(s.deliveryQueues.find(node->loggerQueue().get()));
}

void LGLog::lt_removeAllLoggers() {
  State& s = stateOnLoggingQueue("LGLog::lt_removeAllLoggers");
  for (const auto& node : s.loggers) {
    auto logger = node->logger();
    if (logger->implements(LGLogger::Optional::WillRemoveLogger)) {
      node->loggerQueue()->async([logger] { logger->willRemoveLogger(); });
    }
  }
  s.loggers.clear();
  platform::MutexLock lock(s.deliveryMutex);
  s.deliveryQueues.clear();
}

void LGLog::lt_log(const std::shared_ptr<LGLogMessage>& message, bool holdsBacklogSlot) {
  State& s = stateOnLoggingQueue("LGLog::lt_log");
  // One processor, or one logger: calling each logger in turn on its queue (run inline on this
  // thread) keeps the same order and waits for the same work, without a thread hop.
  if (s.processorCount == 1 || s.loggers.size() == 1) {
    for (const auto& node : s.loggers) {
      node->loggerQueue()->sync([&] { node->logger()->logMessage(*message); });
    }
  } else if (!s.loggers.empty()) {
    for (const auto& node : s.loggers) {
      auto logger = node->logger();
      node->loggerQueue()->async(s.group, [logger, message] { logger->logMessage(*message); });
    }
    s.group->wait();
  }
  if (holdsBacklogSlot) s.backlog.release();
}

void LGLog::lt_drain() {
  State& s = stateOnLoggingQueue("LGLog::lt_drain");
  std::vector<LGLogPendingItem> items;
  {
    platform::MutexLock lock(s.pendingMutex);
    items.swap(s.pending);
    s.drainQueued = false;
  }
  std::size_t i = 0;
  while (i < items.size()) {
    if (items[i].work) {
      items[i].work();
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < items.size() && !items[end].work) ++end;
    lt_deliver(items.data() + i, end - i);
    i = end;
  }
}

void LGLog::lt_deliver(const LGLogPendingItem* items, std::size_t count) {
  State& s = stateOnLoggingQueue("LGLog::lt_deliver");
  if (s.loggers.size() != 1) {
    for (std::size_t i = 0; i < count; ++i) lt_log(items[i].message, items[i].holdsBacklogSlot);
    return;
  }
  // One logger: the whole run in one visit to its queue, each slot given back as its message is
  // done, so waiting callers go on while the rest is written.
  const auto& node = s.loggers.front();
  node->loggerQueue()->sync([&] {
    for (std::size_t i = 0; i < count; ++i) {
      node->logger()->logMessage(*items[i].message);
      if (items[i].holdsBacklogSlot) s.backlog.release();
    }
  });
}

void LGLog::lt_flush() {
  State& s = stateOnLoggingQueue("LGLog::lt_flush");
  for (const auto& node : s.loggers) {
    auto logger = node->logger();
    if (!logger->implements(LGLogger::Optional::Flush)) continue;
    node->loggerQueue()->async(s.group, [logger] { logger->flush(); });
  }
  s.group->wait();
}

void LGLog::declareClass(std::shared_ptr<const LGLogClass> aClass) {
  if (!aClass) return;
  State& s = state();
  platform::MutexLock lock(s.classesMutex);
  s.classes.push_back(std::move(aClass));
}

bool LGLog::isRegisteredClass(const LGLogClass& aClass) {
  return aClass.lgLogLevel && aClass.lgSetLogLevel;
}

std::vector<std::shared_ptr<const LGLogClass>> LGLog::registeredClasses() {
  State& s = state();
  std::vector<std::shared_ptr<const LGLogClass>> all;
  {
    platform::MutexLock lock(s.classesMutex);
    all = s.classes;
  }
  std::vector<std::shared_ptr<const LGLogClass>> registered;
  for (auto& c : all) {
    if (isRegisteredClass(*c)) registered.push_back(c);
  }
  return registered;
}

std::vector<std::string> LGLog::registeredClassNames() {
  std::vector<std::string> names;
  for (const auto& c : registeredClasses()) names.push_back(c->name);
  return names;
}

int LGLog::logLevelForClass(const LGLogClass& aClass) {
  return isRegisteredClass(aClass) ? aClass.lgLogLevel() : -1;
}

namespace {

std::shared_ptr<const LGLogClass> classNamed(const std::string& name) {
  State& s = state();
  platform::MutexLock lock(s.classesMutex);
  for (const auto& c : s.classes) {
    if (c->name == name) return c;
  }
  return nullptr;
}

}  // namespace

int LGLog::logLevelForClassWithName(const std::string& name) {
  auto c = classNamed(name);
  return c ? logLevelForClass(*c) : -1;
}

void LGLog::setLogLevel(int level, const LGLogClass& aClass) {
  if (isRegisteredClass(aClass)) aClass.lgSetLogLevel(level);
}

void LGLog::setLogLevelForClassWithName(int level, const std::string& name) {
  if (auto c = classNamed(name)) setLogLevel(level, *c);
}
