#include <gtest/gtest.h>

#include "studytime/UploadOutcome.h"

namespace {

TEST(UploadOutcomeTest, AnswersTable) {
  const struct {
    int status;
    std::optional<std::string> body;
    UploadOutcome outcome;
  } cases[] = {
      {200, R"({"resultCode": 1, "message": "ok"})", UploadOutcome::kAccepted},
      {200, R"({"resultCode": "1"})", UploadOutcome::kAccepted},
      {204, R"({"resultCode": 1})", UploadOutcome::kAccepted},
      {200, R"({"resultCode": 0})", UploadOutcome::kRefused},
      {200, R"({"resultCode": "0"})", UploadOutcome::kRefused},
      {200, R"({"resultCode": 2})", UploadOutcome::kRefused},
      {200, R"({"resultCode": "1 "})", UploadOutcome::kRefused},
      {200, "<!DOCTYPE html><html><body>Wi-Fi</body></html>", UploadOutcome::kRefused},
      {200, "  \n<html></html>", UploadOutcome::kRefused},
      {500, R"({"resultCode": 1})", UploadOutcome::kRefused},
      {404, "", UploadOutcome::kRefused},
      {302, "", UploadOutcome::kRefused},
      {200, "", UploadOutcome::kInDoubt},
      {200, std::nullopt, UploadOutcome::kInDoubt},
      {200, "{}", UploadOutcome::kInDoubt},
      {200, R"({"resultCode": null})", UploadOutcome::kInDoubt},
      {200, R"({"resultCode": 1.5})", UploadOutcome::kInDoubt},
      {200, R"([{"resultCode": 1}])", UploadOutcome::kInDoubt},
      {200, "ok", UploadOutcome::kInDoubt},
      {200, "{\"resultCode\":" + std::string(3000, '[') + std::string(3000, ']') + "}",
       UploadOutcome::kInDoubt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UploadAnswer::read(c.status, c.body), c.outcome)
        << c.status << " " << c.body.value_or("(no text)");
  }
}

// A request that ends without a whole answer may have been processed; one answered with a
// status was not credited.
TEST(UploadOutcomeTest, FailuresTable) {
  EXPECT_EQ(UploadAnswer::readFailure(0), UploadOutcome::kInDoubt);  // time-out, cut, lost
  EXPECT_EQ(UploadAnswer::readFailure(500), UploadOutcome::kRefused);
  EXPECT_EQ(UploadAnswer::readFailure(503), UploadOutcome::kRefused);
  EXPECT_EQ(UploadAnswer::readFailure(401), UploadOutcome::kRefused);
}

}  // namespace
