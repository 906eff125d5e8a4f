#pragma once
// LGLog: the process-wide log dispatcher. Any thread hands it a message; it stamps the message
// and delivers it, on the serial logging queue "logging.core", to every attached logger, each on
// a serial queue of its own. Every logger sees the messages in the order they were queued, and
// the next message reaches the loggers only once every logger has processed the one before.
//
// At most 1000 messages wait to be delivered; the next caller blocks until there is room again
// (callers held by a full backlog go on together once half of it has been delivered).
// A synchronous call returns once every logger has processed its message. With no logger
// attached, messages are built, queued and dropped.
//
// Nothing may log synchronously or flush from the logging queue or from a logger's queue (each
// waits for that very queue): such a call fails an assertion instead of hanging.
//
// The local media server will log through `log`; the application attaches no logger.

#include <cstdarg>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "logging/LGLogMessage.h"
#include "logging/LGLogger.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Value.h"

// A class known to the process, as the per-class level registry sees it: a name and its
// class-level level accessors, either of which may be missing. Only a class that has both keeps
// a level of its own (is "registered").
struct LGLogClass {
  std::string name;
  std::function<int()> lgLogLevel;
  std::function<void(int)> lgSetLogLevel;
};

struct LGLogPendingItem;

class LGLog {
 public:
  LGLog() = delete;

  // Sets up the process-wide state; every other operation calls it first. Runs once.
  static void initialize();

  static std::shared_ptr<platform::dispatch::Queue> loggingQueue();

  // Flushes every logger; observed for platform::kApplicationWillTerminateNotification.
  static void applicationWillTerminate(const platform::Notification& notification);

  // Queued on the logging queue; they return at once. Null loggers are ignored.
  static void addLogger(std::shared_ptr<LGLogger> logger);
  static void removeLogger(const std::shared_ptr<LGLogger>& logger);
  static void removeAllLoggers();

  // Waits for room in the backlog, then queues the message; a synchronous call returns once
  // every logger has processed it.
  static void queueLogMessage(std::shared_ptr<LGLogMessage> message, bool asynchronously);

  // The entry point: formats `format` printf-style and queues the message. A null format
  // queues nothing. `file` and `function` must be static text.
  static void log(bool asynchronous, int level, int flag, int context, const char* file,
                  const char* function, int line, const platform::Value& tag, const char* format,
                  ...) __attribute__((format(printf, 9, 10)));

  // Queues `work` on the logging queue, in its place among the messages queued asynchronously
  // before and after it.
  static void queueOnLoggingQueue(std::function<void()> work);

  // Returns once every logger that has a flush has flushed.
  static void flushLog();

  // Per-class levels. The process's classes are those declared with `declareClass`; none is
  // declared in the system yet, so these serve a component that keeps a level of its own.
  static void declareClass(std::shared_ptr<const LGLogClass> aClass);
  static bool isRegisteredClass(const LGLogClass& aClass);
  static std::vector<std::shared_ptr<const LGLogClass>> registeredClasses();
  static std::vector<std::string> registeredClassNames();
  // -1 for a class that is not registered.
  static int logLevelForClass(const LGLogClass& aClass);
  static int logLevelForClassWithName(const std::string& name);
  static void setLogLevel(int level, const LGLogClass& aClass);
  static void setLogLevelForClassWithName(int level, const std::string& name);

  // Whether the caller runs on the logging queue.
  static bool isOnLoggingQueue();

 private:
  // `log` with the argument list it has started.
  static void logArgs(bool asynchronous, int level, int flag, int context, const char* file,
                      const char* function, int line, const platform::Value& tag,
                      const char* format, va_list args) __attribute__((format(printf, 9, 0)));

  // Workers, run only on the logging queue (debug builds check it).
  static void lt_addLogger(const std::shared_ptr<LGLogger>& logger);
  static void lt_removeLogger(const std::shared_ptr<LGLogger>& logger);
  static void lt_removeAllLoggers();
  static void lt_log(const std::shared_ptr<LGLogMessage>& message, bool holdsBacklogSlot);
  static void lt_flush();
  // Appends `item` to the pending list, queueing a drain unless one already waits.
  static void queuePending(LGLogPendingItem item);
  // Takes every pending item and runs or delivers it, in order.
  static void lt_drain();
  // Delivers `count` consecutive messages to the attached loggers.
  static void lt_deliver(const LGLogPendingItem* items, std::size_t count);

  // Whether the caller runs on the logging queue or on an attached logger's queue.
  static bool isOnDeliveryQueue();
};
