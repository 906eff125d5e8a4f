#include "download/SIBreakpointsDownload.h"

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

std::optional<ContentRange> contentRangeOf(const platform::URLResponse& response) {
  auto header = response.valueForHTTPHeaderField("Content-Range");
  return header ? ContentRange::parse(*header) : std::nullopt;
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
  auto operation = make<SIBreakpointsDownload>(urlString, params, httpMethod);
  if (!operation) return nullptr;
  operation->tempFilePath_ = tempFilePath;
  operation->downloadFilePath_ = downloadFilePath;
  HeaderDictionary headers;
  auto& bundle = platform::Bundle::main();
  headers["User-Agent"] = bundle.name() + "/" + bundle.version();
  std::error_code error;
  if (fileExists(tempFilePath)) {
    auto size = fs::file_size(tempFilePath, error);
    if (!error && size > 0) {
      operation->requestedStart_ = size;
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
  platform::MutexLock lock(fileMutex_);
  progress_ = std::move(handler);
}

SIBreakpointsDownload::Recovery SIBreakpointsDownload::recovery() const {
  platform::MutexLock lock(fileMutex_);
  return recovery_;
}

void SIBreakpointsDownload::setRecovery(Recovery recovery) {
  platform::MutexLock lock(fileMutex_);
  recovery_ = recovery;
}

bool SIBreakpointsDownload::isFailed() const {
  platform::MutexLock lock(fileMutex_);
  return failed_;
}

void SIBreakpointsDownload::connectionDidReceiveResponse(platform::URLConnection& connection,
                                                         const platform::URLResponse& response) {
  int status = response.statusCode();
  HttpOperation::connectionDidReceiveResponse(connection, response);
  if (status == 416) {
    auto range = contentRangeOf(response);
    if (requestedStart_ > 0 && range && !range->first && range->total == requestedStart_) {
      setRecovery(Recovery::Complete);
    } else {
      removeFile(tempFilePath_);
    }
    return;
  }
  openFileFor(response, connection);
}

void SIBreakpointsDownload::openFileFor(const platform::URLResponse& response,
                                        platform::URLConnection& connection) {
  int status = response.statusCode();
  if (status < 200 || status >= 300) return;
  std::optional<ContentRange> range;
  if (status == 206) {
    range = contentRangeOf(response);
    if (!range || range->first != requestedStart_) {
      removeFile(tempFilePath_);
      setRecovery(Recovery::Restart);
      fail(connection, platform::urlError(platform::kURLErrorBadServerResponse, url()));
      return;
    }
  }
  // Any other success is the whole file: it starts the partial file again.
  std::FILE* file = std::fopen(tempFilePath_.c_str(), range ? "ab" : "wb");
  if (!file) {
    fail(connection, platform::urlError(platform::kURLErrorCannotWriteToFile, url()));
    return;
  }
  platform::MutexLock lock(fileMutex_);
  file_ = file;
  offset_ = range ? requestedStart_ : 0;
  written_ = 0;
  expected_ = response.expectedContentLength();
  range_ = range;
}

void SIBreakpointsDownload::connectionDidReceiveData(platform::URLConnection& connection,
                                                     const platform::Bytes& data) {
  FileProgressHandler progress;
  double fraction = 0;
  bool writeFailed = false;
  {
    platform::MutexLock lock(fileMutex_);
    if (failed_ || !file_) return;
    writeFailed = std::fwrite(data.data(), 1, data.size(), file_) != data.size();
    written_ += data.size();
    // The whole file's size when the range tells it, else what this answer adds to the partial.
    std::optional<std::uint64_t> size = range_ ? range_->total : std::nullopt;
    if (!size && expected_ > 0) size = offset_ + static_cast<std::uint64_t>(expected_);
    if (size && *size > 0) {
      progress = progress_;
      fraction = static_cast<double>(offset_ + written_) / static_cast<double>(*size);
    }
  }
  if (writeFailed) {
    fail(connection, platform::urlError(platform::kURLErrorCannotWriteToFile, url()));
    return;
  }
  if (progress) progress(fraction);
}

bool SIBreakpointsDownload::rangeIsComplete(Recovery& recovery) {
  if (!range_) return true;
  std::uint64_t promised = *range_->last - *range_->first + 1;
  if (written_ > promised) {
    // More than the range: the bytes beyond it cannot be trusted to belong where they landed.
    recovery = Recovery::Restart;
    return false;
  }
  bool reachesTheEnd = !range_->total || *range_->last + 1 == *range_->total;
  if (written_ == promised && reachesTheEnd) return true;
  recovery = written_ > 0 ? Recovery::Continue : Recovery::None;
  return false;
}

void SIBreakpointsDownload::connectionDidFinishLoading(platform::URLConnection& connection) {
  if (isFailed()) return;
  bool complete;
  Recovery recovery = Recovery::None;
  {
    platform::MutexLock lock(fileMutex_);
    complete = rangeIsComplete(recovery);
  }
  bool closed = closeFile();
  if (!complete) {
    setRecovery(recovery);
    if (recovery == Recovery::Restart) {
      removeFile(tempFilePath_);
      fail(connection, platform::urlError(platform::kURLErrorBadServerResponse, url()));
    } else {
      // What arrived stays in the partial file for the rest to be asked for.
      fail(connection, platform::urlError(platform::kURLErrorNetworkConnectionLost, url()));
    }
    return;
  }
  if (!closed) {
    fail(connection, platform::urlError(platform::kURLErrorCannotWriteToFile, url()));
    return;
  }
  HttpOperation::connectionDidFinishLoading(connection);
}

void SIBreakpointsDownload::connectionDidFailWithError(platform::URLConnection& connection,
                                                       const platform::Error& error) {
  if (isFailed()) return;
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
    platform::MutexLock lock(fileMutex_);
    failed_ = true;
  }
  closeFile();
  connection.cancel();
  if (!finishUnlessCancelled()) return;
  operationFailedWithError(error);
}

bool SIBreakpointsDownload::closeFile() {
  platform::MutexLock lock(fileMutex_);
  if (!file_) return true;
  bool flushed = std::fflush(file_) == 0;
  bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  return flushed && closed;
}
