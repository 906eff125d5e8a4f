#pragma once
// LGASLLogger: hands each message to the system log at a priority chosen by its flag (an exact
// match of the whole flag: error 2, warning 3, information 4, anything else 5). One process-wide
// instance on syslog, on its queue "logging.aslLogger"; `withClient` makes one over another
// system-log connection.
//
// Nothing in the system attaches it yet; it is kept whole for a host that wants the system log.

#include <memory>

#include "logging/LGAbstractLogger.h"
#include "logging/LGSystemLogClient.h"

class LGASLLogger : public LGAbstractLogger {
 public:
  static std::shared_ptr<LGASLLogger> sharedInstance();
  static std::shared_ptr<LGASLLogger> withClient(std::shared_ptr<LGSystemLogClient> client);

  void logMessage(const LGLogMessage& message) override;
  std::optional<std::string> loggerName() const override { return "logging.aslLogger"; }

 private:
  explicit LGASLLogger(std::shared_ptr<LGSystemLogClient> client);
  static int levelForFlag(int flag);

  // Set before start, read-only after: opened once and never closed.
  const std::shared_ptr<LGSystemLogClient> client_;
};
