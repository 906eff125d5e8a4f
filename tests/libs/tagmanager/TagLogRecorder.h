#pragma once
// Installs a logger that records every tag-manager log line ("error: ...", "warning: ...",
// "info: ...", "debug: ...", "verbose: ...") for the life of the recorder, whatever the level,
// and puts the logger that was installed before back afterwards. Lines may come from any thread.

#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Mutex.h"
#include "tagmanager/base/TAGLog.h"
#include "tagmanager/base/TAGLogger.h"

namespace testsupport {

class TagLogRecorder {
 public:
  TagLogRecorder() : logger_(std::make_shared<Logger>()), previous_(TAGLog::logger()) {
    TAGLog::setLogger(logger_);
  }
  ~TagLogRecorder() { TAGLog::setLogger(previous_); }
  TagLogRecorder(const TagLogRecorder&) = delete;
  TagLogRecorder& operator=(const TagLogRecorder&) = delete;

  std::vector<std::string> lines() const { return logger_->lines(); }
  // Lines of one kind ("error", "warning", ...), without the kind.
  std::vector<std::string> lines(const std::string& kind) const {
    std::vector<std::string> matching;
    std::string prefix = kind + ": ";
    for (const auto& line : lines()) {
      if (line.rfind(prefix, 0) == 0) matching.push_back(line.substr(prefix.size()));
    }
    return matching;
  }
  void clear() { logger_->clear(); }

 private:
  class Logger : public TAGLogger {
   public:
    void error(const std::string& m) override { add("error: " + m); }
    void warning(const std::string& m) override { add("warning: " + m); }
    void info(const std::string& m) override { add("info: " + m); }
    void debug(const std::string& m) override { add("debug: " + m); }
    void verbose(const std::string& m) override { add("verbose: " + m); }
    void setLogLevel(std::int32_t) override {}
    std::int32_t logLevel() const override { return 0; }

    std::vector<std::string> lines() const {
      platform::MutexLock lock(mutex_);
      return lines_;
    }
    void clear() {
      platform::MutexLock lock(mutex_);
      lines_.clear();
    }

   private:
    void add(std::string line) {
      platform::MutexLock lock(mutex_);
      lines_.push_back(std::move(line));
    }

    mutable platform::Mutex mutex_;
    std::vector<std::string> lines_ GUARDED_BY(mutex_);
  };

  std::shared_ptr<Logger> logger_;
  std::shared_ptr<TAGLogger> previous_;
};

}  // namespace testsupport
