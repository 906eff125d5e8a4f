#pragma once
// SIBreakpointsDownload: the request operation of one resumable file transfer. Received bytes
// go to a partial file, never to memory. A transfer that finds a partial file asks for the rest
// with "Range: bytes=<size>-" and appends only when the server answers exactly that rest
// (206 with a Content-Range starting at the partial size); a server that answers the whole file
// (200) starts the partial file again from its first byte.
//
// Promises, beyond those of HttpOperation:
// - Only the bodies of 2xx answers are written; an error answer never reaches the partial file.
// - A 206 whose range does not continue the partial file discards the partial file and fails
//   with kURLErrorBadServerResponse (`needsRestart()` then tells the caller to try afresh).
// - 416 (the range lies beyond the file) deletes the partial file; the transfer fails with 416.
// - A write that fails fails the transfer with kURLErrorCannotWriteToFile.
// - The file is closed before completion handlers run.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "httpengine/HttpOperation.h"

class SIBreakpointsDownload : public HttpOperation {
 public:
  using FileProgressHandler = std::function<void(double fraction)>;

  // A transfer of `urlString` into the partial file `tempFilePath`, for the target
  // `downloadFilePath`. With `rewriteFile`, an existing partial file is deleted, or else an
  // existing target. Null when the target is present (nothing to fetch) or when no URL can be
  // formed from the text.
  static std::shared_ptr<SIBreakpointsDownload> operationWithURLString(
      const std::string& urlString, const std::optional<platform::Dictionary>& params,
      const std::string& httpMethod, const std::string& tempFilePath,
      const std::string& downloadFilePath, bool rewriteFile);

  ~SIBreakpointsDownload() override;

  const std::string& tempFilePath() const { return _tempFilePath; }
  const std::string& downloadFilePath() const { return _downloadFilePath; }
  // The fraction of the file present after each chunk, counting the resumed bytes; called on the
  // main thread while the answer's length is known.
  void onFileProgressChanged(FileProgressHandler handler);
  // True after a failure that discarded the partial file because the server's range did not
  // continue it.
  bool needsRestart() const;

  void connectionDidReceiveResponse(platform::URLConnection& connection,
                                    const platform::URLResponse& response) override;
  void connectionDidReceiveData(platform::URLConnection& connection,
                                const platform::Bytes& data) override;
  void connectionDidFinishLoading(platform::URLConnection& connection) override;
  void connectionDidFailWithError(platform::URLConnection& connection,
                                  const platform::Error& error) override;
  void cancel() override;

 protected:
  Ptr newInstance() const override { return std::make_shared<SIBreakpointsDownload>(); }

 private:
  enum class Mode { Discard, Append, Restart };

  Mode modeFor(const platform::URLResponse& response);
  void fail(platform::URLConnection& connection, const platform::Error& error);
  bool closeFile();

  std::string _tempFilePath;
  std::string _downloadFilePath;
  std::uint64_t _requestedStart = 0;  // the partial size asked for with "Range", 0 for none

  mutable std::mutex _fileMutex;
  std::FILE* _file = nullptr;
  std::uint64_t _offset = 0;    // bytes of the file before this answer's body
  std::uint64_t _written = 0;   // bytes of this answer's body written
  std::int64_t _expected = -1;  // the answer's length, -1 when unknown
  bool _failed = false;
  bool _needsRestart = false;
  FileProgressHandler _progress;
};
