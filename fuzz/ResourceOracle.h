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
      : allowed_((std::chrono::seconds(2) +
                  std::chrono::milliseconds(inputBytes / 1024 * kMillisecondsPerKB)) *
                 kSlowdown),
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
  // Unoptimised builds (the sanitizer runs of the corpora) and sanitizers take longer for the
  // same work; the allowance is for the work, not the build.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  static constexpr int kSanitized = 2;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
  static constexpr int kSanitized = 2;
#else
  static constexpr int kSanitized = 1;
#endif
#else
  static constexpr int kSanitized = 1;
#endif
#ifdef NDEBUG
  static constexpr int kSlowdown = kSanitized;
#else
  static constexpr int kSlowdown = 8 * kSanitized;
#endif
  std::chrono::steady_clock::duration allowed_;
  std::chrono::steady_clock::time_point start_;
};
