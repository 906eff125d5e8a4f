#pragma once
// The time and memory oracle of the targets whose danger is not a crash but a freeze or an
// allocation without end: an input that takes longer than its size allows, or after which the
// process has ever held more than a set memory, is a finding (the target traps). Time is the
// machine's, not the application's clock: it is the real cost that is judged. The allowance is
// generous (a loaded machine and a sanitizer build stay far within it) and grows with the input,
// so a few KB that take a second, or a page that takes minutes, stand out.

#include <sys/resource.h>

#include <chrono>
#include <cstddef>

class ResourceOracle {
 public:
  // The most the process may ever hold, in bytes.
  static constexpr long kMaxResidentBytes = 1536L * 1024 * 1024;

  explicit ResourceOracle(std::size_t inputBytes)
      : allowed_(std::chrono::seconds(2) +
                 std::chrono::milliseconds(inputBytes / 1024 * kMillisecondsPerKB)),
        start_(std::chrono::steady_clock::now()) {}

  ~ResourceOracle() {
    if (std::chrono::steady_clock::now() - start_ > allowed_) __builtin_trap();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    if (usage.ru_maxrss * 1024L > kMaxResidentBytes) __builtin_trap();
  }
  ResourceOracle(const ResourceOracle&) = delete;
  ResourceOracle& operator=(const ResourceOracle&) = delete;

 private:
  static constexpr long kMillisecondsPerKB = 20;
  std::chrono::steady_clock::duration allowed_;
  std::chrono::steady_clock::time_point start_;
};
