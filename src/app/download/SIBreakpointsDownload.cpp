#include "download/SIBreakpointsDownload.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Digest.h"
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

// The longest validator kept; real ones are a few dozen bytes.
constexpr std::size_t kMaxValidatorBytes = 1024;

bool isWeakTag(std::string_view validator) { return validator.substr(0, 2) == "W/"; }

// The tag without its weakness mark: two tags name the same version, weakly compared, when
// these are equal.
std::string_view opaqueTag(std::string_view tag) { return isWeakTag(tag) ? tag.substr(2) : tag; }

// An entity tag, strong ("x") or weak (W/"x"): a quoted text without quotes, spaces or
// control characters inside.
bool isEntityTag(std::string_view text) {
  std::string_view tag = opaqueTag(text);
  if (tag.size() < 2 || tag.front() != '"' || tag.back() != '"') return false;
  for (unsigned char c : tag.substr(1, tag.size() - 2)) {
    if (c == '"' || c <= 0x20 || c == 0x7f) return false;
  }
  return true;
}

// A modification date as the server wrote it: visible ASCII and inner spaces, nothing a tag
// begins with.
bool isDate(std::string_view text) {
  if (text.empty() || text.front() == ' ' || text.back() == ' ' || text.front() == '"' ||
      isWeakTag(text))
    return false;
  for (unsigned char c : text) {
    if (c < 0x20 || c > 0x7e) return false;
  }
  return true;
}

bool isValidator(std::string_view text) {
  return text.size() <= kMaxValidatorBytes && (isEntityTag(text) || isDate(text));
}

// The validator kept for the answer that starts a partial file: a strong ETag (the best
// "If-Range"), else the last modification date (also sendable), else a weak ETag (never sent,
// since it never matches there, but still compared with the ETag of a 206).
std::optional<std::string> validatorOf(const platform::URLResponse& response) {
  auto etag = response.valueForHTTPHeaderField("ETag");
  const bool tagged = etag && etag->size() <= kMaxValidatorBytes && isEntityTag(*etag);
  if (tagged && !isWeakTag(*etag)) return etag;
  auto modified = response.valueForHTTPHeaderField("Last-Modified");
  if (modified && isValidator(*modified) && isDate(*modified)) return modified;
  if (tagged) return etag;
  return std::nullopt;
}

// What the file beside a partial file holds: nothing (no file), a validator, or something that
// is not one (cut short, bytes that are no header text): then the version of the partial bytes
// is unknown.
struct KeptValidator {
  bool present = false;
  std::optional<std::string> validator;
};

KeptValidator readValidator(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::string text(kMaxValidatorBytes + 2, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  // Written as the validator and one "\n", and nothing else.
  if (text.empty() || text.back() != '\n') return {true, std::nullopt};
  text.pop_back();
  if (!isValidator(text)) return {true, std::nullopt};
  return {true, text};
}

}  // namespace

std::string SIBreakpointsDownload::validatorPathFor(const std::string& tempFilePath) {
  // Named by a digest, so the name stays short whatever the partial file's name.
  return fs::path(tempFilePath).parent_path().string() + "/" +
         platform::md5Hex(tempFilePath).substr(0, 16) + ".validator";
}

void SIBreakpointsDownload::removePartialFile(const std::string& tempFilePath) {
  removeFile(tempFilePath);
  removeFile(validatorPathFor(tempFilePath));
}

std::shared_ptr<SIBreakpointsDownload> SIBreakpointsDownload::operationWithURLString(
    const std::string& urlString, const std::optional<platform::Dictionary>& params,
    const std::string& httpMethod, const std::string& tempFilePath,
    const std::string& downloadFilePath, bool rewriteFile) {
  if (rewriteFile) {
    if (fileExists(tempFilePath)) {
      removePartialFile(tempFilePath);
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
  const KeptValidator kept = readValidator(validatorPathFor(tempFilePath));
  // Partial bytes whose version cannot be told could be another version's: start over.
  if (kept.present && !kept.validator) removePartialFile(tempFilePath);
  std::error_code error;
  if (fileExists(tempFilePath)) {
    auto size = fs::file_size(tempFilePath, error);
    if (!error && size > 0) {
      operation->requestedStart_ = size;
      headers["Range"] = "bytes=" + std::to_string(size) + "-";
      // The rest only of the very version the partial bytes came from; the whole file else.
      operation->validator_ = kept.validator;
      if (kept.validator && !isWeakTag(*kept.validator)) headers["If-Range"] = *kept.validator;
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
      removePartialFile(tempFilePath_);
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
    if (!range || range->first != requestedStart_ || !isSameVersion(response)) {
      removePartialFile(tempFilePath_);
      setRecovery(Recovery::Restart);
      fail(connection, platform::urlError(platform::kURLErrorBadServerResponse, url()));
      return;
    }
  }
  // Any other success is the whole file: it starts the partial file again.
  std::FILE* file = std::fopen(tempFilePath_.c_str(), range ? "ab" : "wb");
  if (!file) {
    failWriting(connection, errno);
    return;
  }
  if (!range || requestedStart_ == 0) keepValidatorOf(response);
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
  int writeError = 0;
  {
    platform::MutexLock lock(fileMutex_);
    if (failed_ || !file_) return;
    if (std::fwrite(data.data(), 1, data.size(), file_) != data.size())
      writeError = errno ? errno : EIO;
    written_ += data.size();
    // The whole file's size when the range tells it, else what this answer adds to the partial.
    std::optional<std::uint64_t> size = range_ ? range_->total : std::nullopt;
    if (!size && expected_ > 0) size = offset_ + static_cast<std::uint64_t>(expected_);
    if (size && *size > 0) {
      progress = progress_;
      fraction = static_cast<double>(offset_ + written_) / static_cast<double>(*size);
    }
  }
  if (writeError) {
    failWriting(connection, writeError);
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
  int closeError = closeFile();
  if (closeError) {
    failWriting(connection, closeError);
    return;
  }
  if (!complete) {
    setRecovery(recovery);
    if (recovery == Recovery::Restart) {
      removePartialFile(tempFilePath_);
      fail(connection, platform::urlError(platform::kURLErrorBadServerResponse, url()));
    } else {
      // What arrived stays in the partial file for the rest to be asked for.
      fail(connection, platform::urlError(platform::kURLErrorNetworkConnectionLost, url()));
    }
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

void SIBreakpointsDownload::failWriting(platform::URLConnection& connection, int errnoValue) {
  {
    platform::MutexLock lock(fileMutex_);
    failed_ = true;
  }
  closeFile();
  removePartialFile(tempFilePath_);
  fail(connection, platform::Error::posix(errnoValue ? errnoValue : EIO,
                                          "cannot write the partial file " + tempFilePath_));
}

bool SIBreakpointsDownload::isSameVersion(const platform::URLResponse& response) const {
  // A partial file started without a validator is continued on trust, as it always was.
  if (!validator_) return true;
  // A server may ignore "If-Range" (and a weak tag is never sent there), so the 206 itself must
  // show the version the partial bytes came from; one that does not show it may be another.
  if (isEntityTag(*validator_)) {
    auto etag = response.valueForHTTPHeaderField("ETag");
    return etag && isEntityTag(*etag) && opaqueTag(*etag) == opaqueTag(*validator_);
  }
  return response.valueForHTTPHeaderField("Last-Modified") == validator_;
}

void SIBreakpointsDownload::keepValidatorOf(const platform::URLResponse& response) const {
  const std::string path = validatorPathFor(tempFilePath_);
  auto validator = validatorOf(response);
  if (!validator) {
    removeFile(path);
    return;
  }
  // Without its validator a partial file is resumed as before, so a failed write loses nothing
  // but the check.
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << *validator << "\n";
  if (!out.flush()) {
    out.close();
    removeFile(path);
  }
}

int SIBreakpointsDownload::closeFile() {
  platform::MutexLock lock(fileMutex_);
  if (!file_) return 0;
  int error = 0;
  if (std::fflush(file_) != 0) error = errno ? errno : EIO;
  if (std::fclose(file_) != 0 && !error) error = errno ? errno : EIO;
  file_ = nullptr;
  return error;
}
