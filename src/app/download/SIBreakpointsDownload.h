#pragma once
// SIBreakpointsDownload: the request operation of one resumable file transfer. Received bytes
// go to a partial file, never to memory. A transfer that finds a partial file asks for the rest
// with "Range: bytes=<size>-" and appends only when the server answers exactly that rest
// (206 with a Content-Range starting at the partial size); a server that answers the whole file
// (200) starts the partial file again from its first byte.
//
// Promises, beyond those of HttpOperation:
// - Only the bodies of 2xx answers are written; an error answer never reaches the partial file.
// - A 206 completes only when its Content-Range reaches the end of the file and every byte of the
//   range arrived. One that stops short fails with kURLErrorNetworkConnectionLost and keeps the
//   partial file; `recovery()` is then `Continue` when the file grew, so the caller can ask for
//   the rest.
// - A 206 whose range does not continue the partial file, or that sends more than its range,
//   discards the partial file and fails with kURLErrorBadServerResponse (`recovery()` is then
//   `Restart`: try afresh).
// - 416 (the range lies beyond the file) fails with 416. When its Content-Range gives the partial
//   file's very size, the partial file is the whole file (a transfer stopped between its last
//   byte and the move): it is kept and `recovery()` is `Complete`. Otherwise it is deleted.
// - The validator of the answer a partial file was started from (its strong ETag, else its
//   Last-Modified, else its weak ETag) is kept beside it; a resume sends a strong ETag or a date
//   as "If-Range", so a file the server has re-published since comes back whole (200) and
//   starts the partial file again instead of continuing old bytes with new ones. Since a server
//   may ignore "If-Range", a 206 must also carry the same validator (a date the same date, an
//   ETag the same tag, weakly compared); one that does not is treated like a range that does
//   not continue the file.
// - A kept validator file that does not hold one validator line (a bare CR, a NUL, a cut) is
//   no validator: the partial file and it are removed and the file is fetched from its start.
// - A write that fails fails the transfer with the platform's POSIX error for it (ENOSPC when
//   the disk is full) and removes the partial file: its end is uncertain, and on a full disk
//   it would hold the space later files need.
// - The file is closed before completion and error handlers run.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "download/ContentRange.h"
#include "httpengine/HttpOperation.h"
#include "platform/foundation/Mutex.h"

class SIBreakpointsDownload : public HttpOperation {
 public:
  using FileProgressHandler = std::function<void(double fraction)>;
  // What a failed transfer leaves for the next one of the same file.
  enum class Recovery {
    None,      // nothing special: the partial file (if any) is continued by a later add
    Restart,   // the partial file was discarded: fetch the file from its first byte
    Continue,  // the answer stopped short but the partial file grew: ask for the rest
    Complete,  // the partial file holds the whole file: move it into place
  };

  // A transfer of `urlString` into the partial file `tempFilePath`, for the target
  // `downloadFilePath`. With `rewriteFile`, an existing partial file is deleted, or else an
  // existing target. Null when the target is present (nothing to fetch) or when no URL can be
  // formed from the text.
  static std::shared_ptr<SIBreakpointsDownload> operationWithURLString(
      const std::string& urlString, const std::optional<platform::Dictionary>& params,
      const std::string& httpMethod, const std::string& tempFilePath,
      const std::string& downloadFilePath, bool rewriteFile);

  // Made only through `operationWithURLString` (the pass key is the engine's).
  using HttpOperation::HttpOperation;
  ~SIBreakpointsDownload() override;

  // Where the validator of the partial file `tempFilePath` is kept.
  static std::string validatorPathFor(const std::string& tempFilePath);
  // Removes a partial file and its validator.
  static void removePartialFile(const std::string& tempFilePath);

  const std::string& tempFilePath() const { return tempFilePath_; }
  const std::string& downloadFilePath() const { return downloadFilePath_; }
  // The fraction of the file present after each chunk, counting the resumed bytes; called on the
  // main thread while the file's size is known.
  void onFileProgressChanged(FileProgressHandler handler) EXCLUDES(fileMutex_);
  // After a failure: how the next transfer of the file may take it up.
  Recovery recovery() const EXCLUDES(fileMutex_);

  void connectionDidReceiveResponse(platform::URLConnection& connection,
                                    const platform::URLResponse& response) override
      EXCLUDES(fileMutex_);
  void connectionDidReceiveData(platform::URLConnection& connection,
                                const platform::Bytes& data) override EXCLUDES(fileMutex_);
  void connectionDidFinishLoading(platform::URLConnection& connection) override
      EXCLUDES(fileMutex_);
  void connectionDidFailWithError(platform::URLConnection& connection,
                                  const platform::Error& error) override EXCLUDES(fileMutex_);
  void cancel() override EXCLUDES(fileMutex_);

 protected:
  Ptr newInstance() const override { return makeEmpty<SIBreakpointsDownload>(); }
  // The body goes to the partial file, never to memory.
  bool keepsBodyInMemory() const override { return false; }

 private:
  // Opens the partial file for the answer to come: continued for a 206 that continues it,
  // written from its start for any other success; error answers are not written at all.
  void openFileFor(const platform::URLResponse& response, platform::URLConnection& connection)
      EXCLUDES(fileMutex_);
  // Whether a finished 206 delivered its whole range up to the end of the file; when it did
  // not, says how the file can be taken up again.
  bool rangeIsComplete(Recovery& recovery) REQUIRES(fileMutex_);
  // Whether a 206 belongs to the version the partial file was started from.
  bool isSameVersion(const platform::URLResponse& response) const;
  // Keeps the validator of the answer that starts the partial file afresh.
  void keepValidatorOf(const platform::URLResponse& response) const;
  void fail(platform::URLConnection& connection, const platform::Error& error) EXCLUDES(fileMutex_);
  // A write failed with `errnoValue`: the partial file goes and the transfer fails.
  void failWriting(platform::URLConnection& connection, int errnoValue) EXCLUDES(fileMutex_);
  bool isFailed() const EXCLUDES(fileMutex_);
  void setRecovery(Recovery recovery) EXCLUDES(fileMutex_);
  // 0, or the errno of a flush or close that failed.
  int closeFile() EXCLUDES(fileMutex_);

  // Set before start, read-only after.
  std::string tempFilePath_;
  std::string downloadFilePath_;
  std::uint64_t requestedStart_ = 0;      // the partial size asked for with "Range", 0 for none
  std::optional<std::string> validator_;  // sent as "If-Range" with the range

  // Guarded by fileMutex_ (the connection delivers on the main thread; a cancel may come from
  // any thread).
  mutable platform::Mutex fileMutex_;
  std::FILE* file_ GUARDED_BY(fileMutex_) = nullptr;
  std::uint64_t offset_ GUARDED_BY(fileMutex_) = 0;    // bytes of the file before this answer
  std::uint64_t written_ GUARDED_BY(fileMutex_) = 0;   // bytes of this answer written
  std::int64_t expected_ GUARDED_BY(fileMutex_) = -1;  // this answer's length, -1 when unknown
  std::optional<ContentRange> range_ GUARDED_BY(fileMutex_);  // the part a 206 promised
  bool failed_ GUARDED_BY(fileMutex_) = false;
  Recovery recovery_ GUARDED_BY(fileMutex_) = Recovery::None;
  FileProgressHandler progress_ GUARDED_BY(fileMutex_);
};
