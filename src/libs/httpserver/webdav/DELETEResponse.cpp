#include "httpserver/webdav/DELETEResponse.h"

#include <filesystem>
#include <system_error>

#include "httpserver/core/HTTPLogging.h"

namespace {
constexpr int kLogLevel = kHTTPConnectionLogLevel;

std::string withoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}
}  // namespace

std::shared_ptr<DELETEResponse> DELETEResponse::initWithFilePath(const std::string& path,
                                                                 const std::string& rootPath) {
  namespace fs = std::filesystem;
  const std::string target = withoutTrailingSlash(path);
  if (target == withoutTrailingSlash(rootPath)) {
    HTTP_LOG_ERROR(kLogLevel, "Failed deleting \"%s\"", target.c_str());
    return std::shared_ptr<DELETEResponse>(new DELETEResponse(403));
  }
  std::error_code error;
  const bool existed = fs::symlink_status(target, error).type() != fs::file_type::not_found;
  std::uintmax_t removed = existed ? fs::remove_all(target, error) : 0;
  if (!existed || error || removed == 0) {
    HTTP_LOG_ERROR(kLogLevel, "Failed deleting \"%s\"", target.c_str());
    return std::shared_ptr<DELETEResponse>(new DELETEResponse(404));
  }
  return std::shared_ptr<DELETEResponse>(new DELETEResponse(existed ? 200 : 204));
}
