#pragma once
// ResourceFetcher: one GET of a URL for the media layer: "http" and "https" through the
// platform URL connection, "file" read from disk. It reports exactly once, on the main run
// loop and never inside `start`, unless cancelled first; after `cancel` (or the fetcher's end)
// nothing is reported. The HTTP status is handed back as it came: callers decide what an error
// status means to them.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"
#include "platform/net/URLConnection.h"

namespace platform {

struct FetchResult {
  std::optional<Error> error;  // set when nothing usable arrived (no answer, unreadable file)
  int statusCode = 0;          // the HTTP status; 200 for a file that was read
  Bytes body;                  // empty unless the body was asked to be kept
  std::size_t bodyLength = 0;  // body bytes received, kept or not
};

class ResourceFetcher : public URLConnectionDelegate,
                        public std::enable_shared_from_this<ResourceFetcher> {
 public:
  using Completion = std::function<void(const FetchResult&)>;

  // Starts fetching `request`. With `keepBody` false the body is only counted (media segments).
  static std::shared_ptr<ResourceFetcher> start(const URLRequest& request, bool keepBody,
                                                Completion completion);
  ~ResourceFetcher() override;

  void cancel();

  // The file path of a "file:" URL (percent escapes decoded); absent for another scheme, a
  // file URL naming a host other than this one, or a malformed or NUL escape.
  static std::optional<std::string> filePath(const std::string& url);

  void connectionDidReceiveResponse(URLConnection&, const URLResponse& response) override;
  void connectionDidReceiveData(URLConnection&, const Bytes& data) override;
  void connectionDidFinishLoading(URLConnection&) override;
  void connectionDidFailWithError(URLConnection&, const Error& error) override;

 private:
  // Made only by `start`: the fetcher hands itself to its connection and its queued work.
  ResourceFetcher(bool keepBody, Completion completion);
  void startHTTP(const URLRequest& request);
  void startFile(const std::string& url);
  void readFile(const std::string& url);
  void finish();

  bool keepBody_;
  Completion completion_;
  FetchResult result_;
  std::shared_ptr<URLConnection> connection_;
  bool done_ = false;
};

}  // namespace platform
