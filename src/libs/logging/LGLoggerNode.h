#pragma once
// One attached logger and the serial queue it is called on; never changed after it is made.

#include <memory>

#include "logging/LGLogger.h"
#include "platform/dispatch/Queue.h"

class LGLoggerNode {
 public:
  static std::shared_ptr<LGLoggerNode> nodeWithLogger(
      std::shared_ptr<LGLogger> logger, std::shared_ptr<platform::dispatch::Queue> loggerQueue);

  LGLoggerNode(std::shared_ptr<LGLogger> logger,
               std::shared_ptr<platform::dispatch::Queue> loggerQueue);

  const std::shared_ptr<LGLogger>& logger() const { return _logger; }
  const std::shared_ptr<platform::dispatch::Queue>& loggerQueue() const { return _loggerQueue; }

 private:
  const std::shared_ptr<LGLogger> _logger;
  const std::shared_ptr<platform::dispatch::Queue> _loggerQueue;
};
