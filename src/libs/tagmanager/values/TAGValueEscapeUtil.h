#pragma once
// TAGValueEscapeUtil: the escapings a macro reference carries, applied to the macro's string
// result, and the URL percent-encoding the tag manager uses elsewhere. Only URI escaping (code
// 12) is carried out; any other code, or a holder whose value is not a string, is logged at
// error level and passed through unchanged. Stateless; any thread may call.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tagmanager/values/TAGPValueAndStatic.h"

class TAGValueEscapeUtil {
 public:
  TAGValueEscapeUtil() = delete;

  using Holder = std::shared_ptr<const TAGPValueAndStatic>;

  // Applies the codes in order, each to the result of the one before.
  static Holder applyEscapings(const std::vector<std::int32_t>& escapings, Holder value);
  static Holder applyEscaping(std::int32_t escaping, Holder value);
  // The string percent-encoded, as a new String value with the same static flag.
  static Holder escapeUri(const Holder& value);

  // Percent-encodes the UTF-8 bytes of everything but ASCII letters, digits, "-", ".", "_" and
  // "~" (a space becomes "%20"); nullopt for text that is not UTF-8.
  static std::optional<std::string> urlEncode(std::string_view text);
  // Replaces every "%" and two hexadecimal digits by its byte ("+" stays "+"); nullopt for a
  // "%" without two digits or bytes that are not UTF-8.
  static std::optional<std::string> urlDecode(std::string_view text);

  // A String node that holds a string.
  static bool isValidStringType(const TAGPValue& value);
};
