#include "logging/LGSystemLogClient.h"

#include <syslog.h>

namespace {

class SyslogClient : public LGSystemLogClient {
 public:
  SyslogClient() { openlog(nullptr, 0, LOG_USER); }
  // The text goes through "%s", so '%' in a message reaches the log unchanged.
  void log(int level, const std::string& text) override { syslog(level, "%s", text.c_str()); }
};

}  // namespace

std::shared_ptr<LGSystemLogClient> LGSystemLogClient::syslogClient() {
  return std::make_shared<SyslogClient>();
}
