#pragma once
// SIDownloadManager: the process-wide downloader of single files. Given a URL and a target path
// it fetches the file into a partial file in the temporary folder, continues an earlier partial
// file with a range request, moves the finished file into place and reports every step as a
// notification (DownloadNotifications.h; object absent unless said):
//   "downloadChangeProgress"  {"URL", "progress": "%.2f" of the fraction present}
//   "downloadDidComplete"     {"URL"}, object the downloader: the file is in place
//   "downloadDone"            {"URL"}: the target was already present
//   "downloadExist"           {"URL"}: the URL is already in flight
//   "downloadError"           {"URL", "error"}: the transfer failed (the error is a shared
//                              platform::Error object in the payload)
//   "downloadPause"           {"URL"}: a cancel was asked for
//   "downloadChangeNetwork"   {"type": "1" offline, "2" WiFi, "3" mobile network}
//
// Partial files are named "<temporary folder>/<prefix><file name>.temp", the prefix being a
// digest of the target path, so two lectures' files of the same name never share bytes; a file
// name too long for that is shortened (the digest still tells targets apart). A partial file
// stays until its transfer completes or a rewrite deletes it; a transfer that fails keeps what
// was written for the next add of the same target. A server that answers with less than the
// rest of the file (a short 206) is asked for the rest for as long as each answer adds bytes; a
// partial file that a 416 shows to be the whole file is moved into place. A resume asks for the
// rest only of the version the partial bytes came from ("If-Range"); a re-published file comes
// back whole and starts again. A partial file that cannot be written (a full disk) is removed,
// and "downloadError" carries the platform's POSIX error.
//
// A transfer starts inside the add whenever the shared operation queue has room (it has unless
// other requests fill its width): its request is handed to the transfer thread before the add
// returns, with no other thread in between, so the lecture queue's next file goes out from the
// very notice that the one before it is in place.
//
// Main thread only (checked in debug builds), except `sharedSIDownloadManager`; every
// notification is posted on the main thread.

#include <memory>
#include <string>
#include <vector>

#include "download/SIBreakpointsDownload.h"
#include "httpengine/HttpEngine.h"
#include "platform/foundation/Value.h"

class SIDownloadManager : public HttpEngine {
 public:
  // The one downloader; made on first use, safely from any thread.
  static std::shared_ptr<SIDownloadManager> sharedSIDownloadManager();

  // Starts or reports one file. The resume flag is not consulted: a partial file is always
  // continued. With `rewriteFile`, an existing partial file (or else target) is deleted first.
  void addDownloadFileTaskInQueue(const std::string& url, const std::string& toFilePath,
                                  bool breakpointResume, bool rewriteFile);
  // Posts "downloadPause" and cancels the last transfer of `url`, if any.
  void cancelDownloadFileTaskInQueue(const std::string& url);
  // Cancels every transfer; nothing is posted.
  void cancelAllDonloads();
  // The transfers in flight, in the order they were added.
  const std::vector<std::shared_ptr<SIBreakpointsDownload>>& allDownloads() const {
    return _downloadArray;
  }
  // {"URL": the URL of the most recent add}.
  const platform::Dictionary& dic() const { return _dic; }

  void reachabilityChanged(const platform::Notification& notification) override;

  // The partial file for a target path.
  static std::string tempFilePathFor(const std::string& targetPath);

 private:
  SIDownloadManager();

  void start(const std::shared_ptr<SIBreakpointsDownload>& operation, const std::string& url,
             bool restartAllowed);
  // Runs `finish` on the next turn of the main loop.
  void finishSoon(const std::shared_ptr<SIBreakpointsDownload>& operation, const std::string& url);
  void finish(const std::shared_ptr<SIBreakpointsDownload>& operation, const std::string& url);
  void failed(const std::shared_ptr<SIBreakpointsDownload>& operation, const std::string& url,
              const platform::Error& error, bool restartAllowed);
  void remove(const std::shared_ptr<SIBreakpointsDownload>& operation);

  // Named by the design. Main thread only.
  std::vector<std::shared_ptr<SIBreakpointsDownload>> _downloadArray;
  platform::Dictionary _dic;
};
