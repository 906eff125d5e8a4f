#include "download/SIBreakpointsDownload.h"

#include <cerrno>
#include <filesystem>

#include "platform/foundation/Bundle.h"
#include "platform/net/URLError.h"

namespace fs = std::filesystem;

namespace {

bool fileExists(const std::string& path) {
  std::error_code ignored;
  return fs::is_regular_file(path, ignored);
}

void removeFile(const std::string& path) {
  std::error_code ignored;
  fs::remove(path, ignored);
}

// The first byte position and the total of "bytes <first>-<last>/<total>"; absent otherwise.
// A total of "*" reads as -1.
std::optional<std::pair<std::uint64_t, std::int64_t>> parseContentRange(const std::string& text) {
  const std::string prefix = "bytes ";
  if (text.rfind(prefix, 0) != 0) return std::nullopt;
  std::string rangeText = text.substr(prefix.size());
  auto dash = rangeText.find('-');
  auto slash = rangeText.find('/');
  if (dash == std::string::npos || slash == std::string::npos || dash == 0 || slash < dash)
    return std::nullopt;
  try {
    std::uint64_t first = std::stoull(rangeText.substr(0, dash));
    std::string total = rangeText.substr(slash + 1);
    return std::make_pair(first, total == "*" ? std::int64_t{-1} : std::stoll(total));
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace

std::shared_ptr<SIBreakpointsDownload> SIBreakpointsDownload::operationWithURLString(
    const std::string& urlString, const std::optional<platform::Dictionary>& params,
    const std::string& httpMethod, const std::string& tempFilePath,
    const std::string& downloadFilePath, bool rewriteFile) {
  if (rewriteFile) {
    if (fileExists(tempFilePath)) {
      removeFile(tempFilePath);
    } else if (fileExists(downloadFilePath)) {
      removeFile(downloadFilePath);
    }
  }
  if (fileExists(downloadFilePath)) return nullptr;
  auto operation = HttpOperation::make<SIBreakpointsDownload>(urlString, params, httpMethod);
  if (!operation) return nullptr;
  operation->_tempFilePath = tempFilePath;
  operation->_downloadFilePath = downloadFilePath;
  HeaderDictionary headers;
  auto& bundle = platform::Bundle::main();
  headers["User-Agent"] = bundle.name() + "/" + bundle.version();
  std::error_code error;
  if (fileExists(tempFilePath)) {
    auto size = fs::file_size(tempFilePath, error);
    if (!error && size > 0) {
      operation->_requestedStart = size;
      headers["Range"] = "bytes=" + std::to_string(size) + "-";
    }
  }
  operation->addHeaders(headers);
  // A transfer is never merged with an equal request nor kept in the response cache.
  operation->setShouldNotCacheResponse(true);
  return operation;
}

SIBreakpointsDownload::~SIBreakpointsDownload() { closeFile(); }

void SIBreakpointsDownload::onFileProgressChanged(FileProgressHandler handler) {
  std::lock_guard lock(_fileMutex);
  _progress = std::move(handler);
}

bool SIBreakpointsDownload::needsRestart() const {
  std::lock_guard lock(_fileMutex);
  return _needsRestart;
}

SIBreakpointsDownload::Mode SIBreakpointsDownload::modeFor(const platform::URLResponse& response) {
  int status = response.statusCode();
  if (status < 200 || status >= 300) return Mode::Discard;
  if (status != 206) return Mode::Restart;
  auto range = response.valueForHTTPHeaderField("Content-Range");
  auto parsed = range ? parseContentRange(*range) : std::nullopt;
  if (!parsed || parsed->first != _requestedStart) return Mode::Discard;
  return Mode::Append;
}

void SIBreakpointsDownload::connectionDidReceiveResponse(platform::URLConnection& connection,
                                                         const platform::URLResponse& response) {
  Mode mode = modeFor(response);
  int status = response.statusCode();
  HttpOperation::connectionDidReceiveResponse(connection, response);
  if (status == 416) {
    removeFile(_tempFilePath);
    return;
  }
  if (status == 206 && mode == Mode::Discard) {
    removeFile(_tempFilePath);
    {
      std::lock_guard lock(_fileMutex);
      _needsRestart = true;
    }
    fail(connection, platform::urlError(platform::kURLErrorBadServerResponse, url()));
    return;
  }
  if (mode == Mode::Discard) return;
  std::FILE* file = std::fopen(_tempFilePath.c_str(), mode == Mode::Append ? "ab" : "wb");
  if (!file) {
    fail(connection, platform::urlError(platform::kURLErrorCannotWriteToFile, url()));
    return;
  }
  std::lock_guard lock(_fileMutex);
  _file = file;
  _offset = mode == Mode::Append ? _requestedStart : 0;
  _written = 0;
  _expected = response.expectedContentLength();
}

void SIBreakpointsDownload::connectionDidReceiveData(platform::URLConnection& connection,
                                                     const platform::Bytes& data) {
  FileProgressHandler progress;
  double fraction = 0;
  bool writeFailed = false;
  {
    std::lock_guard lock(_fileMutex);
    if (_failed || !_file) return;
    writeFailed = std::fwrite(data.data(), 1, data.size(), _file) != data.size();
    _written += data.size();
    if (_expected > 0) {
      progress = _progress;
      fraction = static_cast<double>(_offset + _written) /
                 static_cast<double>(_offset + static_cast<std::uint64_t>(_expected));
    }
  }
  if (writeFailed) {
    fail(connection, platform::urlError(platform::kURLErrorCannotWriteToFile, url()));
    return;
  }
  if (progress) progress(fraction);
}

void SIBreakpointsDownload::connectionDidFinishLoading(platform::URLConnection& connection) {
  {
    std::lock_guard lock(_fileMutex);
    if (_failed) return;
  }
  if (!closeFile()) {
    fail(connection, platform::urlError(platform::kURLErrorCannotWriteToFile, url()));
    return;
  }
  HttpOperation::connectionDidFinishLoading(connection);
}

void SIBreakpointsDownload::connectionDidFailWithError(platform::URLConnection& connection,
                                                       const platform::Error& error) {
  {
    std::lock_guard lock(_fileMutex);
    if (_failed) return;
  }
  closeFile();
  HttpOperation::connectionDidFailWithError(connection, error);
}

void SIBreakpointsDownload::cancel() {
  closeFile();
  HttpOperation::cancel();
}

void SIBreakpointsDownload::fail(platform::URLConnection& connection,
                                 const platform::Error& error) {
  {
    std::lock_guard lock(_fileMutex);
    _failed = true;
  }
  closeFile();
  connection.cancel();
  if (isCancelled()) return;
  setState(kStateFinished);
  operationFailedWithError(error);
}

bool SIBreakpointsDownload::closeFile() {
  std::lock_guard lock(_fileMutex);
  if (!_file) return true;
  bool flushed = std::fflush(_file) == 0;
  bool closed = std::fclose(_file) == 0;
  _file = nullptr;
  return flushed && closed;
}
