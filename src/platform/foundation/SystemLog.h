#pragma once
// SystemLog: the platform's system log, where components without a logger of their own write
// diagnostic lines. Each line goes to standard error, stamped with the local time, the process
// name and the process and thread ids. Tests install a handler to read the lines instead.
//
// Any thread may write; lines are never interleaved.

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

class SystemLog {
 public:
  using Handler = std::function<void(const std::string& line)>;

  static void write(const std::string& line);
  // Takes every line from now on instead of standard error; an empty handler returns to it.
  // Answers the handler that was installed before.
  static Handler setHandler(Handler handler);
};

// Installs a handler that keeps the lines for the life of a test.
class ScopedSystemLogCapture {
 public:
  ScopedSystemLogCapture();
  ~ScopedSystemLogCapture();
  ScopedSystemLogCapture(const ScopedSystemLogCapture&) = delete;
  ScopedSystemLogCapture& operator=(const ScopedSystemLogCapture&) = delete;

  // The lines written so far, oldest first.
  std::vector<std::string> lines() const;
  bool contains(const std::string& line) const;

 private:
  struct State;
  std::shared_ptr<State> state_;
  SystemLog::Handler previous_;
};

}  // namespace platform
