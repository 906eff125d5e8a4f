#pragma once
// TAGResourceLoader: one fetch of a container from the container server, reported to a load
// callback. The URL is "<server><path and query>&v=<sdk version>", then "&pv=<previous
// version>" when a previous version that is not blank is known. The version the server sent and
// the container id of the default path are percent-escaped as query values; a preview path is
// taken as the link gave it.
//
// Outcomes: `startLoad` once the connection exists, then `onSuccess` with the parsed resource
// (absent when the answer holds none: "no change"), or `onFailure` with 1 (no connection, or the
// connection failed, or the answer is longer than a container can be), 2 (a status other than 200
// and 404) or 3 (404, or a 200 body that does not parse, or an exception out of the callback while
// handling the answer).
//
// Made and started on a thread with a run loop; everything is reported on that run loop. A
// loader keeps itself alive while its fetch runs.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/SharedObject.h"
#include "platform/net/URLConnection.h"
#include "tagmanager/container/TAGLoadCallback.h"
#include "tagmanager/proto/serving.pb.h"

class TAGResourceLoader : public platform::URLConnectionDelegate,
                          public std::enable_shared_from_this<TAGResourceLoader> {
  CH_SHARED_OBJECT(TAGResourceLoader)

 public:
  using Callback = TAGLoadCallback<tagpb::TAGPResource>;

  // The longest answer taken as a container. Containers are a few hundred kilobytes at most;
  // a longer answer fails like a broken connection (1) before it is held in memory.
  static constexpr std::uint64_t kMaxContainerBytes = std::uint64_t{4} << 20;

  // The version text sent with every fetch: "i" and the runtime's version number.
  static std::string sdkVersion();

  std::string ctfeUrl() const;
  void loadResourceAsync();

  const std::string& ctfeServerAddress() const { return _ctfeServerAddress; }
  void setCtfeServerAddress(const std::string& address) { _ctfeServerAddress = address; }
  const std::string& ctfeUrlPathAndQuery() const { return _ctfeUrlPathAndQuery; }
  // Absent restores "/r?id=" + the container id.
  void setCtfeUrlPathAndQuery(const std::optional<std::string>& pathAndQuery);
  const std::optional<std::string>& previousVersion() const { return _previousVersion; }
  void setPreviousVersion(std::optional<std::string> version) {
    _previousVersion = std::move(version);
  }
  void setCallback(std::shared_ptr<Callback> callback) { _callback = std::move(callback); }
  std::int32_t statusCode() const { return _statusCode; }

  void connectionDidReceiveResponse(platform::URLConnection&,
                                    const platform::URLResponse& response) override;
  void connectionDidReceiveData(platform::URLConnection&, const platform::Bytes& data) override;
  void connectionDidFailWithError(platform::URLConnection&, const platform::Error& error) override;
  void connectionDidFinishLoading(platform::URLConnection&) override;

 protected:
  explicit TAGResourceLoader(std::string containerId);

 private:
  void handleFinishedBody();
  // Fails an assertion unless called on the thread that started the fetch; the connection's
  // callbacks begin so.
  void assertOnOwner(const char* operation) const;

  // Owned by the thread that started the fetch (set by loadResourceAsync).
  long ownerThread_ = 0;
  const std::string _containerId;
  const std::string _defaultCtfeUrlPathAndQuery;
  std::string _ctfeServerAddress;
  std::string _ctfeUrlPathAndQuery;
  std::optional<std::string> _previousVersion;
  std::shared_ptr<platform::URLConnection> _connection;
  std::optional<std::string> _responseData;
  std::int32_t _statusCode = 0;
  std::shared_ptr<Callback> _callback;
  // The loader itself while its fetch runs (the connection holds its delegate weakly).
  std::shared_ptr<TAGResourceLoader> self_;
};
