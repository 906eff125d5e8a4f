#include "tagmanager/container/TAGResourceLoader.h"

#include "platform/foundation/Assert.h"
#include "platform/foundation/Thread.h"
#include "tagmanager/base/TAGLog.h"
#include "tagmanager/base/TAGServerConfig.h"
#include "tagmanager/container/TAGPServingRoot.h"
#include "tagmanager/container/TAGResourceUtil.h"
#include "tagmanager/macros/TAGRuntimeVersion.h"
#include "tagmanager/values/TAGValueEscapeUtil.h"

namespace {

bool isBlank(const std::string& text) {
  return text.find_first_not_of(" \t\n\r\v\f") == std::string::npos;
}

// `text` as one query value: a blank, "&" or "#" taken over as it is would break the URL or add
// parameters of its own.
std::string queryValue(const std::string& text) {
  return TAGValueEscapeUtil::urlEncode(text).value_or("");
}

}  // namespace

TAGResourceLoader::TAGResourceLoader(std::string containerId)
    : _containerId(std::move(containerId)),
      _defaultCtfeUrlPathAndQuery("/r?id=" + queryValue(_containerId)),
      _ctfeServerAddress(TAGServerConfig::containerServer()),
      _ctfeUrlPathAndQuery(_defaultCtfeUrlPathAndQuery) {}

std::string TAGResourceLoader::sdkVersion() {
  return "i" + std::to_string(TAGRuntimeVersion::versionNumber());
}

void TAGResourceLoader::setCtfeUrlPathAndQuery(const std::optional<std::string>& pathAndQuery) {
  _ctfeUrlPathAndQuery = pathAndQuery ? *pathAndQuery : _defaultCtfeUrlPathAndQuery;
}

std::string TAGResourceLoader::ctfeUrl() const {
  std::string base = _ctfeServerAddress + _ctfeUrlPathAndQuery + "&v=" + sdkVersion();
  if (!_previousVersion || isBlank(*_previousVersion)) return base;
  // A version that is not text cannot be named in a URL; the fetch then goes without it, as for
  // a container that has none yet.
  auto version = TAGValueEscapeUtil::urlEncode(*_previousVersion);
  return version ? base + "&pv=" + *version : base;
}

void TAGResourceLoader::assertOnOwner(const char* operation) const {
  platform::assertThat(ownerThread_ == platform::Thread::currentId(),
                       std::string(operation) + " must run on the thread that started the fetch");
}

void TAGResourceLoader::loadResourceAsync() {
  ownerThread_ = platform::Thread::currentId();
  platform::URLRequest request(ctfeUrl());
  request.setMaximumBodyLength(kMaxContainerBytes);
  _connection = platform::URLConnection::make(std::move(request), weak_from_this());
  self_ = shared_from_this();
  _connection->start();
  if (_callback) _callback->startLoad();
}

void TAGResourceLoader::connectionDidReceiveResponse(platform::URLConnection&,
                                                     const platform::URLResponse& response) {
  assertOnOwner("TAGResourceLoader::connectionDidReceiveResponse");
  _responseData = std::string();
  _statusCode = response.statusCode();
}

void TAGResourceLoader::connectionDidReceiveData(platform::URLConnection&,
                                                 const platform::Bytes& data) {
  assertOnOwner("TAGResourceLoader::connectionDidReceiveData");
  if (!_responseData) _responseData = std::string();
  _responseData->append(reinterpret_cast<const char*>(data.data()), data.size());
}

void TAGResourceLoader::connectionDidFailWithError(platform::URLConnection&,
                                                   const platform::Error& error) {
  assertOnOwner("TAGResourceLoader::connectionDidFailWithError");
  auto keepAlive = std::move(self_);
  _responseData.reset();
  _connection.reset();
  TAGLog::warning("Error when loading resources from url: " + ctfeUrl() + " " +
                  error.localizedDescription());
  if (_callback) _callback->onFailure(1);
}

void TAGResourceLoader::connectionDidFinishLoading(platform::URLConnection&) {
  assertOnOwner("TAGResourceLoader::connectionDidFinishLoading");
  auto keepAlive = std::move(self_);
  try {
    handleFinishedBody();
  } catch (...) {
    _connection.reset();
    throw;
  }
  _connection.reset();
}

void TAGResourceLoader::handleFinishedBody() {
  bool logFinished = false;
  try {
    if (_statusCode == 200) {
      auto optional = std::make_shared<tagpb::TAGPOptionalResource>(
          TAGPServingRoot::parseFromData<tagpb::TAGPOptionalResource>(_responseData.value_or("")));
      // Named by size and version: the text form of a large container is many times its size,
      // and the line is built whatever the log level.
      TAGLog::verbose("Successfully loaded resource: " +
                      (optional->has_resource()
                           ? TAGResourceUtil::summaryOfResource(optional->resource())
                           : std::string("no resource")));
      std::shared_ptr<const tagpb::TAGPResource> resource;
      if (optional->has_resource()) {
        resource = std::shared_ptr<const tagpb::TAGPResource>(optional, &optional->resource());
      } else {
        TAGLog::verbose("No change for container: " + _containerId);
      }
      logFinished = true;
      if (_callback) _callback->onSuccess(resource);
    } else if (_statusCode == 404) {
      TAGLog::warning("No data was retrieved from the given url:" + ctfeUrl() +
                      ". Make sure container_id:" + _containerId + " is correct.");
      if (_callback) _callback->onFailure(3);
    } else {
      TAGLog::warning("Error when loading resources from url: " + ctfeUrl() +
                      " status code = " + std::to_string(_statusCode));
      if (_callback) _callback->onFailure(2);
    }
  } catch (const platform::Exception&) {
    TAGLog::warning("Error when parsing downloaded resources from url: " + ctfeUrl());
    logFinished = true;
    if (_callback) _callback->onFailure(3);
  }
  if (logFinished) TAGLog::verbose("Load resource from network finished");
}
