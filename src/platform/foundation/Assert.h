#pragma once
// Failed assertions and raised exceptions of the system. Where the behaviour is "fail an assertion"
// or "raise an exception", code throws one of these, so callers and tests can tell the failure
// from a crash and read its text.

#include <stdexcept>
#include <string>

namespace platform {

// A programming error the system refuses to continue past (an internal-inconsistency failure).
class AssertionFailure : public std::logic_error {
 public:
  explicit AssertionFailure(const std::string& what) : std::logic_error(what) {}
};

// A named exception with a reason, raised by operations whose contract is to raise on misuse.
class Exception : public std::runtime_error {
 public:
  Exception(std::string name, const std::string& reason)
      : std::runtime_error(reason), name_(std::move(name)) {}
  const std::string& name() const { return name_; }
  std::string reason() const { return what(); }

 private:
  std::string name_;
};

// Throws AssertionFailure with `text` when `condition` is false.
inline void assertThat(bool condition, const std::string& text) {
  if (!condition) throw AssertionFailure(text);
}

}  // namespace platform
