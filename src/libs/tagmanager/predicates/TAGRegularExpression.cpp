#include "tagmanager/predicates/TAGRegularExpression.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>
#include <unicode/utypes.h>

std::unique_ptr<TAGRegularExpression> TAGRegularExpression::compile(std::string_view pattern,
                                                                    bool ignoreCase,
                                                                    std::string* error) {
  UErrorCode status = U_ZERO_ERROR;
  UParseError parseError{};
  icu::UnicodeString source = icu::UnicodeString::fromUTF8(
      icu::StringPiece(pattern.data(), static_cast<std::int32_t>(pattern.size())));
  std::unique_ptr<icu::RegexPattern> compiled(icu::RegexPattern::compile(
      source, ignoreCase ? UREGEX_CASE_INSENSITIVE : 0, parseError, status));
  if (U_FAILURE(status) || !compiled) {
    if (error) *error = u_errorName(status);
    return nullptr;
  }
  return std::unique_ptr<TAGRegularExpression>(new TAGRegularExpression(std::move(compiled)));
}

TAGRegularExpression::TAGRegularExpression(std::unique_ptr<icu::RegexPattern> pattern)
    : pattern_(std::move(pattern)) {}

TAGRegularExpression::~TAGRegularExpression() = default;

TAGRegularExpression::Match TAGRegularExpression::firstMatch(std::string_view text) const {
  Match result;
  icu::UnicodeString subject = icu::UnicodeString::fromUTF8(
      icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())));
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::RegexMatcher> matcher(pattern_->matcher(subject, status));
  if (U_FAILURE(status) || !matcher) return result;
  matcher->setTimeLimit(kTimeLimit, status);
  matcher->setStackLimit(kStackLimit, status);
  if (U_FAILURE(status)) return result;

  bool found = matcher->find(status);
  if (status == U_REGEX_TIME_OUT || status == U_REGEX_STACK_OVERFLOW) {
    result.outcome = Outcome::LimitReached;
    return result;
  }
  if (U_FAILURE(status) || !found) return result;

  result.outcome = Outcome::Match;
  for (std::int32_t group = 0; group <= matcher->groupCount(); ++group) {
    UErrorCode groupStatus = U_ZERO_ERROR;
    if (matcher->start(group, groupStatus) < 0 || U_FAILURE(groupStatus)) {
      result.groups.emplace_back(std::nullopt);
      continue;
    }
    std::string utf8;
    matcher->group(group, groupStatus).toUTF8String(utf8);
    result.groups.emplace_back(std::move(utf8));
  }
  return result;
}
