#pragma once
// UploadOutcome: what the answer to a study-log upload says about the batch it carried.
//
// - kAccepted: a 2xx answer whose body is JSON with "resultCode" 1 (the number, or the text
//   "1"): the server credited the batch, which is settled on the device.
// - kRefused: any other status, a 2xx answer that is an HTML page (a Wi-Fi login page stands
//   between the device and the server), or JSON with another "resultCode": nothing was
//   credited, the batch is unmarked and goes with the next upload.
// - kInDoubt: the request went out and no answer came back (time-out, connection cut), or a
//   2xx answer of any other form: the server may have credited the batch, which stays marked
//   until a course tree tells (StudyBatch::resolve).

#include <optional>
#include <string>

enum class UploadOutcome { kAccepted, kRefused, kInDoubt };

class UploadAnswer {
 public:
  // An answer with HTTP `status`, whose body reads `body` (absent: not text).
  static UploadOutcome read(int status, const std::optional<std::string>& body);
  // A request that failed: `status` is the answer's status, 0 when no answer came.
  static UploadOutcome readFailure(int status);
};
