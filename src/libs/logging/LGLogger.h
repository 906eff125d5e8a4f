#pragma once
// The two interfaces of the logging framework: a logger (what the dispatcher hands messages to)
// and a formatter (what turns a message into the text a logger writes).
//
// A logger is called only on its own serial queue, so it keeps its state without locks. Its
// optional operations are queued only when the logger says it implements them (`implements`).

#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/Queue.h"

class LGLogMessage;
class LGLogger;

// A formatted line. Null means "drop the message". Texts are shared so a logger can tell whether
// a formatter handed back the message's own text or a new one.
using LGLogText = std::shared_ptr<const std::string>;

class LGLogFormatter {
 public:
  virtual ~LGLogFormatter() = default;

  // The text to log for `message`, or null to drop it.
  virtual LGLogText formatLogMessage(const LGLogMessage& message) = 0;
  // Told when installed in a logger, or replaced in it.
  virtual void didAddToLogger(const std::shared_ptr<LGLogger>& /*logger*/) {}
  virtual void willRemoveFromLogger(const std::shared_ptr<LGLogger>& /*logger*/) {}
};

class LGLogger {
 public:
  enum class Optional { DidAddLogger, WillRemoveLogger, Flush };

  virtual ~LGLogger() = default;

  // Called on the logger's queue, once per message, in the order the messages were queued.
  virtual void logMessage(const LGLogMessage& message) = 0;
  virtual std::shared_ptr<LGLogFormatter> logFormatter() = 0;
  virtual void setLogFormatter(std::shared_ptr<LGLogFormatter> formatter) = 0;

  // Whether the logger implements an optional operation; the dispatcher calls only those.
  virtual bool implements(Optional /*operation*/) const { return false; }
  virtual void didAddLogger() {}
  virtual void willRemoveLogger() {}
  virtual void flush() {}

  // The serial queue the logger wants to be called on; null lets the dispatcher make one,
  // labelled with `loggerName()` when that is given.
  virtual std::shared_ptr<platform::dispatch::Queue> loggerQueue() { return nullptr; }
  virtual std::optional<std::string> loggerName() const { return std::nullopt; }
};
