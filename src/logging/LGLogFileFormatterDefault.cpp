#include "logging/LGLogFileFormatterDefault.h"

#include "logging/LGLogMessage.h"
#include "platform/foundation/DateFormat.h"

LGLogFileFormatterDefault::LGLogFileFormatterDefault(DateFormatter dateFormatter)
    : dateFormatter_(std::move(dateFormatter)) {
  if (!dateFormatter_) {
    dateFormatter_ = [](platform::Date date) {
      return platform::formatDate(date, "yyyy/MM/dd HH:mm:ss:SSS");
    };
  }
}

LGLogText LGLogFileFormatterDefault::formatLogMessage(const LGLogMessage& message) {
  return std::make_shared<const std::string>(dateFormatter_(message.timestamp()) + "  " +
                                             message.logMsg());
}
