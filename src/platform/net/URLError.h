#pragma once
// The platform's URL loading error codes (domain "NSURLErrorDomain"), and the error values the
// connection reports with them: the code, a description in the platform's words and the
// failing URL.

#include <string>

#include "platform/foundation/Error.h"

namespace platform {

enum URLErrorCode : int {
  kURLErrorUnknown = -1,
  kURLErrorCancelled = -999,
  kURLErrorBadURL = -1000,
  kURLErrorTimedOut = -1001,
  kURLErrorUnsupportedURL = -1002,
  kURLErrorCannotFindHost = -1003,
  kURLErrorCannotConnectToHost = -1004,
  kURLErrorNetworkConnectionLost = -1005,
  kURLErrorHTTPTooManyRedirects = -1007,
  kURLErrorResourceUnavailable = -1008,
  kURLErrorNotConnectedToInternet = -1009,
  kURLErrorBadServerResponse = -1011,
  kURLErrorUserCancelledAuthentication = -1012,
  kURLErrorZeroByteResource = -1014,
  kURLErrorRequestBodyStreamExhausted = -1021,
  kURLErrorFileDoesNotExist = -1100,
  kURLErrorFileIsDirectory = -1101,
  kURLErrorNoPermissionsToReadFile = -1102,
  kURLErrorDataLengthExceedsMaximum = -1103,
  kURLErrorCannotWriteToFile = -3003,
  kURLErrorSecureConnectionFailed = -1200,
  kURLErrorServerCertificateUntrusted = -1202,
  kURLErrorClientCertificateRejected = -1205,
  kURLErrorClientCertificateRequired = -1206,
};

// An error of "NSURLErrorDomain" with `code`, its description, and `url` as failing URL.
Error urlError(int code, const std::string& url);

}  // namespace platform
