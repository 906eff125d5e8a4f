#pragma once
// How the media server's classes log: through LGLog with context 80 and no tag; errors
// synchronously, warnings and information asynchronously. A line is made only when the class's
// level lets its flag through: the server logs errors, warnings and information, the connection
// and the responses errors and warnings. Formats start with the emitting file's name
// (`HTTP_LOG_FILE`), as the server's log lines always have.

#include "logging/LGLog.h"
#include "logging/LGLogMessage.h"

inline constexpr int kHTTPLogContext = 80;
inline constexpr int kHTTPServerLogLevel = LG_LOG_LEVEL_INFO;
inline constexpr int kHTTPConnectionLogLevel = LG_LOG_LEVEL_WARN;

#define HTTP_LOG_FILE (fileNameWithoutExtension(__FILE__, false).value_or("").c_str())

#define HTTP_LOG_MESSAGE(level, flag, format, ...)                                         \
  do {                                                                                     \
    if ((level) & (flag))                                                                  \
      LGLog::log((flag) != LG_LOG_FLAG_ERROR, level, flag, kHTTPLogContext, __FILE__,      \
                 __PRETTY_FUNCTION__, __LINE__, platform::Value(), format, ##__VA_ARGS__); \
  } while (0)

#define HTTP_LOG_ERROR(level, format, ...) \
  HTTP_LOG_MESSAGE(level, LG_LOG_FLAG_ERROR, format, ##__VA_ARGS__)
#define HTTP_LOG_WARN(level, format, ...) \
  HTTP_LOG_MESSAGE(level, LG_LOG_FLAG_WARN, format, ##__VA_ARGS__)
#define HTTP_LOG_INFO(level, format, ...) \
  HTTP_LOG_MESSAGE(level, LG_LOG_FLAG_INFO, format, ##__VA_ARGS__)
