#pragma once
// TAGRegularExpression: a compiled regular expression in ICU's dialect (lookbehind, `\p{...}`,
// matching by code point over UTF-8 text), searched unanchored: a match anywhere in the text
// counts. Patterns come from containers fetched over the network, so every search runs under a
// step limit (about kTimeLimit milliseconds of matching) and a backtrack-memory limit; a search
// that reaches either ends without a match, so a runaway pattern costs a bounded amount of work.
//
// Immutable once compiled; any thread may search.

#include <unicode/uversion.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

U_NAMESPACE_BEGIN
class RegexPattern;
U_NAMESPACE_END

class TAGRegularExpression {
 public:
  // ICU's time-limit units: matching steps calibrated to roughly one millisecond each.
  static constexpr std::int32_t kTimeLimit = 200;
  // Bytes of ICU's backtrack stack (kept on the heap, not the thread's stack).
  static constexpr std::int32_t kStackLimit = 1 << 20;

  enum class Outcome { Match, NoMatch, LimitReached };
  struct Match {
    Outcome outcome = Outcome::NoMatch;
    // Group 0 (the whole match), then each capture group; none for a group that took no part.
    std::vector<std::optional<std::string>> groups;
  };

  // Null when the pattern does not compile; `error` then says why.
  static std::unique_ptr<TAGRegularExpression> compile(std::string_view pattern, bool ignoreCase,
                                                       std::string* error = nullptr);
  ~TAGRegularExpression();

  // The first match in the whole text.
  Match firstMatch(std::string_view text) const;
  bool findsMatch(std::string_view text) const {
    return firstMatch(text).outcome == Outcome::Match;
  }

 private:
  explicit TAGRegularExpression(std::unique_ptr<icu::RegexPattern> pattern);
  std::unique_ptr<icu::RegexPattern> pattern_;
};
