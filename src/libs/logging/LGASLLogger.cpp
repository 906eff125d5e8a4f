#include "logging/LGASLLogger.h"

#include "logging/LGLogMessage.h"

std::shared_ptr<LGASLLogger> LGASLLogger::sharedInstance() {
  static std::shared_ptr<LGASLLogger>* instance =
      new std::shared_ptr<LGASLLogger>(withClient(LGSystemLogClient::syslogClient()));
  return *instance;
}

std::shared_ptr<LGASLLogger> LGASLLogger::withClient(std::shared_ptr<LGSystemLogClient> client) {
  return std::shared_ptr<LGASLLogger>(new LGASLLogger(std::move(client)));
}

LGASLLogger::LGASLLogger(std::shared_ptr<LGSystemLogClient> client) : client_(std::move(client)) {}

int LGASLLogger::levelForFlag(int flag) {
  switch (flag) {
    case LG_LOG_FLAG_ERROR:
      return 2;
    case LG_LOG_FLAG_WARN:
      return 3;
    case LG_LOG_FLAG_INFO:
      return 4;
    default:
      return 5;
  }
}

void LGASLLogger::logMessage(const LGLogMessage& message) {
  LGLogText text = formatter_ ? formatter_->formatLogMessage(message) : message.logMsgText();
  if (!text) return;
  client_->log(levelForFlag(message.logFlag()), *text);
}
