#include "platform/net/URLError.h"

namespace platform {

namespace {

const char* describe(int code) {
  switch (code) {
    case kURLErrorCancelled:
      return "cancelled";
    case kURLErrorBadURL:
      return "bad URL";
    case kURLErrorTimedOut:
      return "The request timed out.";
    case kURLErrorUnsupportedURL:
      return "unsupported URL";
    case kURLErrorCannotFindHost:
      return "A server with the specified hostname could not be found.";
    case kURLErrorCannotConnectToHost:
      return "Could not connect to the server.";
    case kURLErrorNetworkConnectionLost:
      return "The network connection was lost.";
    case kURLErrorHTTPTooManyRedirects:
      return "too many HTTP redirects";
    case kURLErrorNotConnectedToInternet:
      return "The Internet connection appears to be offline.";
    case kURLErrorBadServerResponse:
      return "The server returned a bad response.";
    case kURLErrorUserCancelledAuthentication:
      return "The user cancelled authentication.";
    case kURLErrorRequestBodyStreamExhausted:
      return "The request body stream was exhausted.";
    case kURLErrorFileDoesNotExist:
      return "The file does not exist.";
    case kURLErrorFileIsDirectory:
      return "The file is a directory.";
    case kURLErrorNoPermissionsToReadFile:
      return "The file could not be read.";
    case kURLErrorDataLengthExceedsMaximum:
      return "resource exceeds maximum size";
    case kURLErrorCannotWriteToFile:
      return "The file could not be written.";
    case kURLErrorSecureConnectionFailed:
      return "An SSL error has occurred and a secure connection to the server cannot be made.";
    case kURLErrorServerCertificateUntrusted:
      return "The certificate for this server is invalid.";
    case kURLErrorClientCertificateRejected:
      return "The server did not accept the certificate.";
    case kURLErrorClientCertificateRequired:
      return "The server requires a client certificate.";
    default:
      return "unknown error";
  }
}

}  // namespace

Error urlError(int code, const std::string& url) {
  Dictionary info;
  info[kLocalizedDescriptionKey] = describe(code);
  info[kURLErrorStringKey] = url;
  info[kURLErrorKey] = url;
  return Error(kURLErrorDomain, code, std::move(info));
}

}  // namespace platform
