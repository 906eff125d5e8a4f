#include "studytime/UploadOutcome.h"

#include <cctype>

#include "platform/foundation/Json.h"

namespace {

bool looksLikeHtml(const std::string& body) {
  for (char c : body) {
    if (std::isspace(static_cast<unsigned char>(c))) continue;
    return c == '<';
  }
  return false;
}

UploadOutcome readResultCode(const nlohmann::json& code) {
  if (code.is_number_integer())
    return code.get<std::int64_t>() == 1 ? UploadOutcome::kAccepted : UploadOutcome::kRefused;
  if (code.is_string()) {
    return code.get<std::string>() == "1" ? UploadOutcome::kAccepted : UploadOutcome::kRefused;
  }
  // A "resultCode" of another kind (a fraction, a list) is no answer we can read either way.
  return UploadOutcome::kInDoubt;
}

}  // namespace

UploadOutcome UploadAnswer::read(int status, const std::optional<std::string>& body) {
  if (status < 200 || status >= 300) return UploadOutcome::kRefused;
  if (!body) return UploadOutcome::kInDoubt;
  if (looksLikeHtml(*body)) return UploadOutcome::kRefused;
  auto answer = platform::Json::parse(*body);
  if (!answer || !answer->is_object()) return UploadOutcome::kInDoubt;
  const nlohmann::json* code = platform::Json::member(*answer, "resultCode");
  if (!code || code->is_null()) return UploadOutcome::kInDoubt;
  return readResultCode(*code);
}

UploadOutcome UploadAnswer::readFailure(int status) {
  return status == 0 ? UploadOutcome::kInDoubt : UploadOutcome::kRefused;
}
