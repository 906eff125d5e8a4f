#pragma once
// A connection to the system log: one text at one priority. The process's own connection is
// syslog(3); tests hand the system-log logger a fake.

#include <memory>
#include <string>

class LGSystemLogClient {
 public:
  virtual ~LGSystemLogClient() = default;
  // `level` is a syslog priority (2 critical, 3 error, 4 warning, 5 notice).
  virtual void log(int level, const std::string& text) = 0;

  // The process's syslog connection, opened with the program's name and the user facility.
  static std::shared_ptr<LGSystemLogClient> syslogClient();
};
