#include "httpengine/HttpOperation.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>

#include "httpengine/HttpBase64.h"
#include "httpengine/HttpEngineAdditions.h"
#include "httpengine/RFC1123.h"
#include "httpengine/RequestEncoding.h"
#include "httpengine/SaturatingDate.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/DateFormat.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Utf8.h"
#include "platform/net/URLError.h"

using platform::Bytes;
using platform::Dictionary;
using platform::Error;
using platform::Value;
namespace dispatch = platform::dispatch;
namespace fs = std::filesystem;

namespace {

bool isBodyMethod(const std::string& method) {
  return method == "POST" || method == "PUT" || method == "PATCH";
}

// A URL the connection can use: absolute, with a scheme and no characters that URLs forbid.
bool isValidURL(const std::string& text) {
  if (text.empty()) return false;
  CURLU* url = curl_url();
  CURLUcode code = curl_url_set(url, CURLUPART_URL, text.c_str(), CURLU_NON_SUPPORT_SCHEME);
  curl_url_cleanup(url);
  return code == CURLUE_OK;
}

// The user's preferred languages, from the locale settings of the process.
std::vector<std::string> preferredLanguages() {
  std::vector<std::string> result;
  auto add = [&](std::string tag) {
    tag = tag.substr(0, tag.find_first_of(".@"));
    std::replace(tag.begin(), tag.end(), '_', '-');
    if (!tag.empty() && tag != "C" && tag != "POSIX" &&
        std::find(result.begin(), result.end(), tag) == result.end())
      result.push_back(tag);
  };
  if (const char* list = std::getenv("LANGUAGE")) {
    std::string text = list;
    std::size_t at = 0;
    while (at <= text.size()) {
      std::size_t end = text.find(':', at);
      if (end == std::string::npos) end = text.size();
      add(text.substr(at, end - at));
      at = end + 1;
    }
  }
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    if (const char* value = std::getenv(name)) add(value);
  }
  if (result.empty()) result.push_back("en");
  return result;
}

std::string joined(const std::vector<std::string>& parts, const std::string& separator) {
  std::string out;
  for (const auto& part : parts) {
    if (!out.empty()) out += separator;
    out += part;
  }
  return out;
}

bool containsText(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::string lastPathComponent(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

nlohmann::json requestToJson(const platform::URLRequest& request) {
  nlohmann::json headers = nlohmann::json::array();
  for (const auto& [name, value] : request.allHTTPHeaderFields().fields())
    headers.push_back({name, value});
  nlohmann::json j = {{"url", request.url()},
                      {"method", request.httpMethod()},
                      {"headers", headers},
                      {"timeout", request.timeoutInterval()}};
  if (request.httpBody()) j["body"] = platform::base64Encode(*request.httpBody());
  return j;
}

// The text under `key` of a part's dictionary ("" when absent: parts made here always have it).
std::string textOf(const Dictionary& part, const std::string& key) {
  const Value* value = platform::find(part, key);
  return value ? value->stringValue() : std::string();
}

std::string encodePostData(const HttpOperation::EncodingBlock& handler, const Dictionary& fields,
                           int encoding) {
  if (handler) return handler(fields);
  switch (encoding) {
    case HttpOperation::kPostDataEncodingTypeURL:
      return RequestEncoding::urlEncodedKeyValueString(fields);
    case HttpOperation::kPostDataEncodingTypeJSON:
      return RequestEncoding::jsonEncodedKeyValueString(fields);
    case HttpOperation::kPostDataEncodingTypePlist:
      return RequestEncoding::plistEncodedKeyValueString(fields);
    default:
      return "";
  }
}

// The whole content of a multipart file part; absent, with `error` set for the request `url`,
// when the path names nothing, a folder, or something that is not a plain readable file (a
// device could be read for ever).
std::optional<std::string> readFilePart(const std::string& path, const std::string& url,
                                        Error* error) {
  auto fail = [&](int code, const std::string& why) -> std::optional<std::string> {
    if (error) {
      *error = platform::urlError(code, url);
      error->userInfo()[platform::kLocalizedFailureReasonKey] = why + ": " + path;
    }
    return std::nullopt;
  };
  std::error_code code;
  auto status = fs::status(path, code);
  if (code || !fs::exists(status)) return fail(platform::kURLErrorFileDoesNotExist, "no such file");
  if (fs::is_directory(status)) return fail(platform::kURLErrorFileIsDirectory, "a folder");
  if (!fs::is_regular_file(status))
    return fail(platform::kURLErrorNoPermissionsToReadFile, "not a plain file");
  std::ifstream in(path, std::ios::binary);
  if (!in) return fail(platform::kURLErrorNoPermissionsToReadFile, "cannot be opened");
  std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) return fail(platform::kURLErrorNoPermissionsToReadFile, "cannot be read");
  return content;
}

// The entries of an archived list of part dictionaries, each required to hold every key of
// `keys` as text; absent when the list is not an array or an entry falls short.
std::optional<std::vector<Dictionary>> archivedParts(const nlohmann::json& archive,
                                                     const char* listKey,
                                                     std::initializer_list<const char*> keys) {
  std::vector<Dictionary> parts;
  const nlohmann::json* list = platform::Json::member(archive, listKey);
  if (!list || list->is_null()) return parts;
  if (!list->is_array()) return std::nullopt;
  for (const auto& entry : *list) {
    if (!entry.is_object()) return std::nullopt;
    Dictionary part;
    for (const char* key : keys) {
      auto text = platform::Json::member(entry, key);
      if (!text || !text->is_string()) return std::nullopt;
      part[key] = text->get<std::string>();
    }
    parts.push_back(std::move(part));
  }
  return parts;
}

platform::URLRequest requestFromJson(const nlohmann::json& j) {
  platform::URLRequest request(platform::Json::stringValue(j, "url").value_or(""));
  request.setHTTPMethod(platform::Json::stringValue(j, "method").value_or("GET"));
  request.setTimeoutInterval(platform::Json::doubleValue(j, "timeout").value_or(35.0));
  if (auto* headers = platform::Json::arrayValue(j, "headers")) {
    for (const auto& pair : *headers) {
      if (pair.is_array() && pair.size() == 2 && pair[0].is_string() && pair[1].is_string())
        request.setValue(pair[1].get<std::string>(), pair[0].get<std::string>());
    }
  }
  if (auto body = platform::Json::stringValue(j, "body"))
    request.setHTTPBody(platform::base64Decode(*body));
  return request;
}

// Ends `task` through the installed host (an invalid one, or none installed, does nothing).
void endHostTask(HttpEngineHost::BackgroundTaskIdentifier task) {
  if (task == HttpEngineHost::kBackgroundTaskInvalid) return;
  if (auto host = HttpEngineHost::installed()) host->endBackgroundTask(task);
}

}  // namespace

HttpOperation::HttpOperation(Tag) {}

HttpOperation::~HttpOperation() {
  std::shared_ptr<platform::URLConnection> connection;
  HttpEngineHost::BackgroundTaskIdentifier task;
  {
    platform::MutexLock lock(mutex_);
    connection = std::move(_connection);
    task = _backgroundTaskId;
  }
  if (connection) connection->cancel();
  // An operation dropped before it ended (its queue went away) must not leave its task running.
  endHostTask(task);
}

namespace {

nlohmann::json notificationToJson(const std::optional<platform::LocalNotification>& notification) {
  if (!notification) return nullptr;
  nlohmann::json out = {{"userInfo", platform::Json::fromValue(Value(notification->userInfo))}};
  if (notification->alertBody) out["alertBody"] = *notification->alertBody;
  if (notification->alertAction) out["alertAction"] = *notification->alertAction;
  if (notification->fireDate) {
    out["fireDate"] = std::chrono::duration_cast<std::chrono::nanoseconds>(
                          notification->fireDate->time_since_epoch())
                          .count();
  }
  return out;
}

std::optional<platform::LocalNotification> notificationFromJson(const nlohmann::json& archive) {
  using platform::Json;
  const nlohmann::json* stored = Json::objectValue(archive, "localNotification");
  if (!stored) return std::nullopt;
  platform::LocalNotification notification;
  notification.alertBody = Json::stringValue(*stored, "alertBody");
  notification.alertAction = Json::stringValue(*stored, "alertAction");
  if (auto nanoseconds = Json::intValue(*stored, "fireDate"))
    notification.fireDate = platform::Date(std::chrono::duration_cast<platform::Date::duration>(
        std::chrono::nanoseconds(*nanoseconds)));
  if (auto* info = Json::objectValue(*stored, "userInfo")) {
    Value value = Json::toValue(*info);
    if (auto* d = value.asDictionary()) notification.userInfo = *d;
  }
  return notification;
}

}  // namespace

HttpOperation::Ptr HttpOperation::self() const {
  return std::static_pointer_cast<HttpOperation>(
      std::const_pointer_cast<platform::Operation>(shared_from_this()));
}

bool HttpOperation::initWithURLString(const std::string& urlString,
                                      const std::optional<Dictionary>& params,
                                      const std::optional<std::string>& method) {
  platform::MutexLock lock(mutex_);
  if (params) _fieldsToBePosted = *params;
  _stringEncoding = kUTF8StringEncoding;
  std::string httpMethod = method.value_or("GET");
  if (httpMethod == "GET") _cacheHeaders = Dictionary();
  std::string finalURL = urlString;
  if ((httpMethod == "GET" || httpMethod == "DELETE") && !_fieldsToBePosted.empty()) {
    // Used as is: a URL that already holds "?" gets a second one, as callers have relied on.
    finalURL = urlString + "?" + RequestEncoding::urlEncodedKeyValueString(_fieldsToBePosted);
  }
  if (!isValidURL(finalURL)) return false;
  _request = platform::URLRequest(finalURL);
  _request.setTimeoutInterval(kRequestTimeout);
  _request.setHTTPMethod(httpMethod);
  _request.setValue(joined(preferredLanguages(), ", ") + ", en-us", "Accept-Language");
  if ((httpMethod == "POST" || httpMethod == "PUT") && !_fieldsToBePosted.empty())
    setPostDataEncodingLocked(kPostDataEncodingTypeURL);
  _state = kStateReady;
  return true;
}

// ---- Request shaping ----

void HttpOperation::addParams(const Dictionary& params) {
  platform::MutexLock lock(mutex_);
  for (const auto& [key, value] : params) _fieldsToBePosted[key] = value;
}

void HttpOperation::addHeaders(const HeaderDictionary& headers) {
  platform::MutexLock lock(mutex_);
  for (const auto& [name, value] : headers) _request.addValue(value, name);
}

std::string HttpOperation::charsetName() const {
  switch (_stringEncoding) {
    case kASCIIStringEncoding:
      return "us-ascii";
    case kISOLatin1StringEncoding:
      return "iso-8859-1";
    default:
      return "utf-8";
  }
}

void HttpOperation::setPostDataEncoding(int encoding) {
  platform::MutexLock lock(mutex_);
  setPostDataEncodingLocked(encoding);
}

void HttpOperation::setPostDataEncodingLocked(int encoding) {
  _postDataEncoding = encoding;
  const char* type = encoding == kPostDataEncodingTypeURL     ? "application/x-www-form-urlencoded"
                     : encoding == kPostDataEncodingTypeJSON  ? "application/json"
                     : encoding == kPostDataEncodingTypePlist ? "application/x-plist"
                                                              : nullptr;
  if (type) _request.setValue(std::string(type) + "; charset=" + charsetName(), "Content-Type");
}

int HttpOperation::postDataEncoding() const {
  platform::MutexLock lock(mutex_);
  return _postDataEncoding;
}

void HttpOperation::setAuthorizationHeaderValue(const std::string& value,
                                                const std::string& authType) {
  platform::MutexLock lock(mutex_);
  _request.setValue(authType + " " + value, "Authorization");
}

void HttpOperation::setUsername(const std::string& username, const std::string& password) {
  platform::MutexLock lock(mutex_);
  _username = username;
  _password = password;
}

void HttpOperation::setUsername(const std::string& username, const std::string& password,
                                bool /*basicAuth*/) {
  setUsername(username, password);
  setAuthorizationHeaderValue(HttpBase64::base64EncodedString(bytesOf(username + ":" + password)),
                              "Basic");
}

void HttpOperation::setCustomPostDataEncodingHandler(EncodingBlock handler,
                                                     const std::string& contentType) {
  platform::MutexLock lock(mutex_);
  _postDataEncoding = kPostDataEncodingTypeCustom;
  _postDataEncodingHandler = std::move(handler);
  _request.setValue(contentType + "; charset=" + charsetName(), "Content-Type");
}

void HttpOperation::setUploadStream(std::shared_ptr<std::istream> stream) {
  platform::MutexLock lock(mutex_);
  _request.setHTTPBodyStream(std::move(stream));
}

void HttpOperation::addData(const Bytes& data, const std::string& key) {
  addData(data, key, "application/octet-stream", "file");
}

void HttpOperation::addData(const Bytes& data, const std::string& key, const std::string& mimeType,
                            const std::string& fileName) {
  platform::MutexLock lock(mutex_);
  if (_request.httpMethod() == "GET") _request.setHTTPMethod("POST");
  _dataToBePosted.push_back(
      {{"data", Value(data)}, {"name", key}, {"mimetype", mimeType}, {"filename", fileName}});
}

void HttpOperation::addFile(const std::string& filePath, const std::string& key) {
  addFile(filePath, key, "application/octet-stream");
}

void HttpOperation::addFile(const std::string& filePath, const std::string& key,
                            const std::string& mimeType) {
  platform::MutexLock lock(mutex_);
  if (_request.httpMethod() == "GET") _request.setHTTPMethod("POST");
  _filesToBePosted.push_back({{"filepath", filePath}, {"name", key}, {"mimetype", mimeType}});
}

void HttpOperation::setFreezable(bool freezable) {
  platform::MutexLock lock(mutex_);
  if (freezable && _request.httpMethod() == "GET") return;
  _freezable = freezable;
  if (freezable && _uniqueId.empty()) _uniqueId = HttpEngineAdditions::uniqueString();
}

bool HttpOperation::freezable() const {
  platform::MutexLock lock(mutex_);
  return _freezable;
}

// ---- Handlers ----

void HttpOperation::addCompletionHandler(ResponseBlock completion,
                                         ResponseErrorBlock errorHandler) {
  platform::MutexLock lock(mutex_);
  if (completion) _responseBlocks.push_back(std::move(completion));
  if (errorHandler) _errorBlocksType2.push_back(std::move(errorHandler));
}

void HttpOperation::onCompletion(ResponseBlock completion, ErrorBlock errorHandler) {
  platform::MutexLock lock(mutex_);
  _responseBlocks.push_back(std::move(completion));
  _errorBlocks.push_back(std::move(errorHandler));
}

void HttpOperation::onNotModified(VoidBlock handler) {
  platform::MutexLock lock(mutex_);
  _notModifiedHandlers.push_back(std::move(handler));
}

void HttpOperation::onUploadProgressChanged(ProgressBlock handler) {
  platform::MutexLock lock(mutex_);
  _uploadProgressChangedHandlers.push_back(std::move(handler));
}

void HttpOperation::onDownloadProgressChanged(ProgressBlock handler) {
  platform::MutexLock lock(mutex_);
  _downloadProgressChangedHandlers.push_back(std::move(handler));
}

void HttpOperation::addDownloadStream(std::shared_ptr<platform::OutputStream> stream) {
  platform::MutexLock lock(mutex_);
  if (stream) _downloadStreams.push_back(std::move(stream));
}

void HttpOperation::setCacheHandler(ResponseBlock handler) {
  platform::MutexLock lock(mutex_);
  _cacheHandlingBlock = std::move(handler);
}

void HttpOperation::setOperationStateChangedHandler(StateBlock handler) {
  platform::MutexLock lock(mutex_);
  _operationStateChangedHandler = std::move(handler);
}

void HttpOperation::setAuthHandler(AuthBlock handler) {
  platform::MutexLock lock(mutex_);
  _authHandler = std::move(handler);
}

// ---- Results ----

std::optional<Bytes> HttpOperation::responseData() const {
  platform::MutexLock lock(mutex_);
  if (_state == kStateFinished) return _mutableData;
  return _cachedResponse;
}

std::optional<std::string> HttpOperation::responseString() const {
  return responseStringWithEncoding(stringEncoding());
}

std::optional<std::string> HttpOperation::responseStringWithEncoding(unsigned encoding) const {
  auto data = responseData();
  if (!data) return std::nullopt;
  if (encoding == kISOLatin1StringEncoding) {
    std::string out;
    for (std::uint8_t b : *data) {
      if (b < 0x80) {
        out += static_cast<char>(b);
      } else {
        out += static_cast<char>(0xC0 | (b >> 6));
        out += static_cast<char>(0x80 | (b & 0x3F));
      }
    }
    return out;
  }
  if (encoding == kASCIIStringEncoding &&
      std::any_of(data->begin(), data->end(), [](std::uint8_t b) { return b > 0x7F; }))
    return std::nullopt;
  if (!platform::isValidUtf8(*data)) return std::nullopt;
  return std::string(data->begin(), data->end());
}

std::optional<nlohmann::json> HttpOperation::responseJSON() const {
  auto data = responseData();
  if (!data) return std::nullopt;
  return platform::Json::parse(
      std::string_view(reinterpret_cast<const char*>(data->data()), data->size()));
}

void HttpOperation::responseJSONWithCompletionHandler(JSONBlock handler) const {
  responseJSONWithOptions(0, std::move(handler));
}

void HttpOperation::responseJSONWithOptions(unsigned /*options*/, JSONBlock handler) const {
  auto data = responseData();
  if (!data) {
    handler(std::nullopt);
    return;
  }
  dispatch::Queue::global(dispatch::Priority::High)
      ->async([data = std::move(*data), handler = std::move(handler)] {
        auto decoded = platform::Json::parse(
            std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
        dispatch::Queue::main()->async(
            [decoded = std::move(decoded), handler] { handler(decoded); });
      });
}

bool HttpOperation::isCachedResponse() const {
  platform::MutexLock lock(mutex_);
  return _cachedResponse.has_value();
}

std::optional<Error> HttpOperation::error() const {
  platform::MutexLock lock(mutex_);
  return _error;
}

std::string HttpOperation::url() const {
  platform::MutexLock lock(mutex_);
  return _request.url();
}

platform::URLRequest HttpOperation::readonlyRequest() const {
  platform::MutexLock lock(mutex_);
  return _request;
}

std::optional<platform::URLResponse> HttpOperation::readonlyResponse() const {
  platform::MutexLock lock(mutex_);
  return _response;
}

Dictionary HttpOperation::readonlyPostDictionary() const {
  platform::MutexLock lock(mutex_);
  return _fieldsToBePosted;
}

std::string HttpOperation::HTTPMethod() const {
  platform::MutexLock lock(mutex_);
  return _request.httpMethod();
}

int HttpOperation::HTTPStatusCode() const {
  platform::MutexLock lock(mutex_);
  return _response ? _response->statusCode() : 0;
}

std::uint64_t HttpOperation::downloadedDataSize() const {
  platform::MutexLock lock(mutex_);
  return _downloadedDataSize;
}

std::int64_t HttpOperation::startPosition() const {
  platform::MutexLock lock(mutex_);
  return _startPosition;
}

std::string HttpOperation::uniqueId() const {
  platform::MutexLock lock(mutex_);
  return _uniqueId;
}

std::size_t HttpOperation::completionHandlerCount() const {
  platform::MutexLock lock(mutex_);
  return _responseBlocks.size();
}

int HttpOperation::state() const {
  platform::MutexLock lock(mutex_);
  return _state;
}

// ---- Settings ----

void HttpOperation::setStringEncoding(unsigned encoding) {
  platform::MutexLock lock(mutex_);
  _stringEncoding = encoding;
}

unsigned HttpOperation::stringEncoding() const {
  platform::MutexLock lock(mutex_);
  return _stringEncoding;
}

bool HttpOperation::shouldContinueWithInvalidCertificate() const {
  platform::MutexLock lock(mutex_);
  return _shouldContinueWithInvalidCertificate;
}

void HttpOperation::setShouldContinueWithInvalidCertificate(bool value) {
  platform::MutexLock lock(mutex_);
  _shouldContinueWithInvalidCertificate = value;
}

void HttpOperation::setClientCertificate(const std::string& pkcs12Path) {
  platform::MutexLock lock(mutex_);
  _clientCertificate = pkcs12Path;
}

void HttpOperation::setClientCertificatePassword(const std::string& password) {
  platform::MutexLock lock(mutex_);
  _clientCertificatePassword = password;
}

void HttpOperation::setShouldNotCacheResponse(bool value) {
  platform::MutexLock lock(mutex_);
  _shouldNotCacheResponse = value;
}

void HttpOperation::setShouldCacheResponseEvenIfProtocolIsHTTPS(bool value) {
  platform::MutexLock lock(mutex_);
  _shouldCacheResponseEvenIfProtocolIsHTTPS = value;
}

void HttpOperation::setCredentialPersistence(unsigned persistence) {
  platform::MutexLock lock(mutex_);
  _credentialPersistence = persistence;
}

void HttpOperation::setTimeoutInterval(double seconds) {
  platform::MutexLock lock(mutex_);
  _request.setTimeoutInterval(seconds);
}

void HttpOperation::setLocalNotification(std::optional<platform::LocalNotification> notification) {
  platform::MutexLock lock(mutex_);
  _localNotification = std::move(notification);
}

std::optional<platform::LocalNotification> HttpOperation::localNotification() const {
  platform::MutexLock lock(mutex_);
  return _localNotification;
}

void HttpOperation::setShouldShowLocalNotificationOnError(bool value) {
  platform::MutexLock lock(mutex_);
  _shouldShowLocalNotificationOnError = value;
}

HttpEngineHost::BackgroundTaskIdentifier HttpOperation::backgroundTaskId() const {
  platform::MutexLock lock(mutex_);
  return _backgroundTaskId;
}

// ---- Operation life ----

bool HttpOperation::isReady() const { return state() == kStateReady; }
bool HttpOperation::isExecuting() const { return state() == kStateExecuting; }
bool HttpOperation::isFinished() const { return state() == kStateFinished; }
bool HttpOperation::isCancelled() const {
  platform::MutexLock lock(mutex_);
  return _isCancelled;
}

void HttpOperation::setState(int state) {
  StateBlock handler;
  {
    platform::MutexLock lock(mutex_);
    _state = state;
    handler = _operationStateChangedHandler;
  }
  stateDidChange();
  if (handler) handler(state);
}

bool HttpOperation::finishUnlessCancelled() {
  StateBlock handler;
  {
    platform::MutexLock lock(mutex_);
    if (_isCancelled || _state == kStateFinished) return false;
    _state = kStateFinished;
    handler = _operationStateChangedHandler;
  }
  stateDidChange();
  if (handler) handler(kStateFinished);
  return true;
}

void HttpOperation::beginBackgroundTask() {
  auto host = HttpEngineHost::installed();
  if (!host) return;
  std::weak_ptr<HttpOperation> weak = self();
  auto task = host->beginBackgroundTask([weak] {
    dispatch::Queue::main()->async([weak] {
      if (auto me = weak.lock()) me->backgroundTaskExpired();
    });
  });
  HttpEngineHost::BackgroundTaskIdentifier previous;
  {
    platform::MutexLock lock(mutex_);
    previous = _backgroundTaskId;
    _backgroundTaskId = task;
  }
  // Started twice: the first task would otherwise never end.
  endHostTask(previous);
}

void HttpOperation::backgroundTaskExpired() {
  HttpEngineHost::BackgroundTaskIdentifier task;
  {
    platform::MutexLock lock(mutex_);
    task = std::exchange(_backgroundTaskId, HttpEngineHost::kBackgroundTaskInvalid);
  }
  endHostTask(task);
  cancel();
}

void HttpOperation::endBackgroundTask() {
  {
    platform::MutexLock lock(mutex_);
    if (_backgroundTaskId == HttpEngineHost::kBackgroundTaskInvalid) return;
  }
  auto me = self();
  dispatch::Queue::main()->async([me] {
    HttpEngineHost::BackgroundTaskIdentifier task;
    {
      platform::MutexLock lock(me->mutex_);
      task = std::exchange(me->_backgroundTaskId, HttpEngineHost::kBackgroundTaskInvalid);
    }
    endHostTask(task);
  });
}

void HttpOperation::start() {
  beginBackgroundTask();
  bool wantsBody;
  {
    platform::MutexLock lock(mutex_);
    wantsBody = !_isCancelled && isBodyMethod(_request.httpMethod()) && !_request.httpBodyStream();
  }
  std::optional<Error> failure;
  if (wantsBody) {
    Error error;
    if (auto body = bodyData(&error)) {
      platform::MutexLock lock(mutex_);
      _request.setHTTPBody(std::move(*body));
    } else {
      failure = std::move(error);
    }
  }
  if (isCancelled()) {
    setState(kStateFinished);
    endBackgroundTask();
    return;
  }
  // Executing before the connection exists, so a quick finish on the main thread can never be
  // overwritten by this state.
  setState(kStateExecuting);
  auto me = self();
  if (failure) {
    dispatch::Queue::main()->async([me, error = *failure] { me->failBeforeSending(error); });
    return;
  }
  // Started from this queue thread rather than after a hop through the main queue: the
  // connection is scheduled on the main run loop, so everything it reports still arrives on the
  // main thread, and a request goes out one thread wake-up sooner.
  startConnection();
}

void HttpOperation::startConnection() {
  platform::MutexLock lock(mutex_);
  // A held operation is being cancelled by freezing; that cancel ends it.
  if (_isCancelled || sendingHeld_ || _state != kStateExecuting) return;
  requestSent_ = true;
  platform::URLRequest request = _request;
  // A body written away as it arrives is not held in memory, so its length needs no limit.
  if (!_downloadStreams.empty() || !keepsBodyInMemory()) request.setMaximumBodyLength(std::nullopt);
  // Redirects keep the method, headers and body of the operation's own request.
  request.setKeepsMethodOnRedirect(true);
  request.setAllowsInvalidCertificates(_shouldContinueWithInvalidCertificate);
  if (_username && _password) request.setCredential(platform::Credential{*_username, *_password});
  if (_clientCertificate)
    request.setClientCertificate(
        platform::ClientCertificate{*_clientCertificate, _clientCertificatePassword});
  std::weak_ptr<platform::URLConnectionDelegate> delegate = self();
  _connection = platform::URLConnection::make(std::move(request), delegate);
  _connection->scheduleInRunLoop(platform::RunLoop::main());
  _connection->start();
}

void HttpOperation::failBeforeSending(const Error& error) {
  if (!finishUnlessCancelled()) return;
  endBackgroundTask();
  closeStreams();
  operationFailedWithError(error);
}

void HttpOperation::closeStreams() {
  std::vector<std::shared_ptr<platform::OutputStream>> streams;
  {
    platform::MutexLock lock(mutex_);
    streams = _downloadStreams;
  }
  for (const auto& stream : streams) stream->close();
}

void HttpOperation::cancel() {
  std::shared_ptr<platform::URLConnection> connection;
  std::vector<std::shared_ptr<platform::OutputStream>> streams;
  bool wasExecuting;
  {
    platform::MutexLock lock(mutex_);
    // A finished operation has reported its outcome: the cancel does not take.
    if (_state == kStateFinished) return;
    _isCancelled = true;
    connection = std::move(_connection);
    _responseBlocks.clear();
    _errorBlocks.clear();
    _errorBlocksType2.clear();
    _notModifiedHandlers.clear();
    _uploadProgressChangedHandlers.clear();
    _downloadProgressChangedHandlers.clear();
    streams.swap(_downloadStreams);
    _authHandler = nullptr;
    _mutableData.reset();
    _cacheHandlingBlock = nullptr;
    _downloadedDataSize = 0;
    wasExecuting = _state == kStateExecuting;
  }
  // Outside the lock: cancelling waits for a delivery in progress on the main thread, which
  // may need the lock to finish.
  if (connection) connection->cancel();
  for (const auto& stream : streams) stream->close();
  if (wasExecuting) setState(kStateFinished);
  endBackgroundTask();
  platform::Operation::cancel();
}

// ---- Engine hooks ----

bool HttpOperation::cancelUnlessSent() {
  {
    platform::MutexLock lock(mutex_);
    if (requestSent_) return false;
    sendingHeld_ = true;
  }
  cancel();
  platform::MutexLock lock(mutex_);
  sendingHeld_ = false;
  return _isCancelled;
}

bool HttpOperation::isCacheable() const {
  platform::MutexLock lock(mutex_);
  if (_shouldNotCacheResponse || _username || _password || _clientCertificate ||
      _clientCertificatePassword)
    return false;
  if (_request.httpMethod() != "GET") return false;
  std::string scheme = _request.url().substr(0, _request.url().find(':'));
  if (platform::equalsIgnoringCase(scheme, "https"))
    return _shouldCacheResponseEvenIfProtocolIsHTTPS;
  return _downloadStreams.empty();
}

void HttpOperation::notifyCache() {
  ResponseBlock block;
  {
    platform::MutexLock lock(mutex_);
    block = _cacheHandlingBlock;
  }
  if (!isCacheable() || isCancelled() || !block) return;
  block(self());
}

void HttpOperation::setCachedData(const Bytes& data) {
  {
    platform::MutexLock lock(mutex_);
    _cachedResponse = data;
  }
  operationSucceeded();
}

void HttpOperation::updateOperationBasedOnPreviousHeaders(const Dictionary& headers) {
  platform::MutexLock lock(mutex_);
  if (auto* modified = platform::find(headers, "Last-Modified"); modified && modified->asText())
    _request.setValue(*modified->asText(), "IF-MODIFIED-SINCE");
  if (auto* tag = platform::find(headers, "ETag"); tag && tag->asText())
    _request.setValue(*tag->asText(), "IF-NONE-MATCH");
}

void HttpOperation::updateHandlersFromOperation(const HttpOperation& other) {
  if (&other == this) return;
  // Read the other's lists first, then append under this one's lock: never both locks at once,
  // so two operations merged into each other cannot deadlock.
  std::vector<ResponseBlock> responses;
  std::vector<ErrorBlock> errors;
  std::vector<ResponseErrorBlock> operationErrors;
  std::vector<VoidBlock> notModified;
  std::vector<ProgressBlock> uploads, downloads;
  std::vector<std::shared_ptr<platform::OutputStream>> streams;
  {
    platform::MutexLock lock(other.mutex_);
    responses = other._responseBlocks;
    errors = other._errorBlocks;
    operationErrors = other._errorBlocksType2;
    notModified = other._notModifiedHandlers;
    uploads = other._uploadProgressChangedHandlers;
    downloads = other._downloadProgressChangedHandlers;
    streams = other._downloadStreams;
  }
  auto append = [](auto& to, const auto& from) { to.insert(to.end(), from.begin(), from.end()); };
  platform::MutexLock lock(mutex_);
  append(_responseBlocks, responses);
  append(_errorBlocks, errors);
  append(_errorBlocksType2, operationErrors);
  append(_notModifiedHandlers, notModified);
  append(_uploadProgressChangedHandlers, uploads);
  append(_downloadProgressChangedHandlers, downloads);
  append(_downloadStreams, streams);
}

std::string HttpOperation::uniqueIdentifier() const {
  platform::MutexLock lock(mutex_);
  std::string text = _request.httpMethod() + " " + _request.url();
  if (_username || _password)
    text += " [" + _username.value_or("") + ":" + _password.value_or("") + "]";
  if (_freezable) text += _uniqueId;
  // The digest is asked for on every duplicate check and cache lookup; the text it is made of
  // changes only while the creator shapes the request.
  if (text != identifierSource_ || identifier_.empty()) {
    identifier_ = HttpEngineAdditions::md5(text);
    identifierSource_ = std::move(text);
  }
  return identifier_;
}

bool HttpOperation::isEqual(const HttpOperation& other) const {
  if (&other == this) return true;
  if (typeid(*this) != typeid(HttpOperation) && typeid(other) != typeid(*this)) return false;
  std::string method = HTTPMethod();
  if (method != "GET" && method != "HEAD") return false;
  return uniqueIdentifier() == other.uniqueIdentifier();
}

std::size_t HttpOperation::hash() const { return std::hash<std::string>()(uniqueIdentifier()); }

Dictionary HttpOperation::cacheHeaders() const {
  platform::MutexLock lock(mutex_);
  return _cacheHeaders.value_or(Dictionary());
}

// ---- Authentication ----

HttpOperation::ChallengeAnswer HttpOperation::answerChallenge(
    const AuthenticationChallenge& challenge) const {
  using Trust = AuthenticationChallenge::TrustResult;
  AuthBlock handler;
  {
    platform::MutexLock lock(mutex_);
    if (challenge.previousFailureCount != 0) return ChallengeAnswer::ContinueWithoutCredential;
    const std::string& method = challenge.authenticationMethod;
    bool passwordMethod =
        method == kAuthenticationMethodDefault || method == kAuthenticationMethodHTTPBasic ||
        method == kAuthenticationMethodHTTPDigest || method == kAuthenticationMethodNTLM;
    if (passwordMethod && _username && _password) return ChallengeAnswer::UseCredential;
    if (method == kAuthenticationMethodClientCertificate && _clientCertificate) {
      return ChallengeAnswer::UseCredential;
    }
    if (method == kAuthenticationMethodServerTrust) {
      // Only a trust the system accepts is used; a recoverable failure (self-signed, wrong
      // host, expired) is accepted only when the caller asked to continue with invalid
      // certificates.
      if (challenge.trustResult == Trust::Proceed || challenge.trustResult == Trust::Unspecified)
        return ChallengeAnswer::UseCredential;
      return _shouldContinueWithInvalidCertificate ? ChallengeAnswer::UseCredential
                                                   : ChallengeAnswer::ContinueWithoutCredential;
    }
    handler = _authHandler;
  }
  if (!handler) return ChallengeAnswer::ContinueWithoutCredential;
  handler(challenge);
  return ChallengeAnswer::Handled;
}

// ---- Bodies ----

std::string HttpOperation::encodedPostDataString() const {
  EncodingBlock handler;
  Dictionary fields;
  int encoding;
  {
    platform::MutexLock lock(mutex_);
    handler = _postDataEncodingHandler;
    fields = _fieldsToBePosted;
    encoding = _postDataEncoding;
  }
  // The caller's encoder runs unlocked: it may ask the operation about itself.
  return encodePostData(handler, fields, encoding);
}

std::optional<Bytes> HttpOperation::bodyData(Error* error) {
  bool multipart;
  {
    platform::MutexLock lock(mutex_);
    multipart = !_filesToBePosted.empty() || !_dataToBePosted.empty();
  }
  if (!multipart) return bytesOf(encodedPostDataString());
  return multipartBody(error);
}

std::optional<Bytes> HttpOperation::multipartBody(Error* error) {
  Dictionary fields;
  std::vector<Dictionary> files, data;
  std::string url;
  {
    platform::MutexLock lock(mutex_);
    fields = _fieldsToBePosted;
    files = _filesToBePosted;
    data = _dataToBePosted;
    url = _request.url();
  }
  const std::string boundary = kBoundary;
  std::string body;
  for (const auto& [key, value] : fields) {
    body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + key + "\"\r\n\r\n" +
            value.stringValue() + "\r\n";
  }
  auto partHead = [&](const std::string& name, const std::string& fileName,
                      const std::string& mimeType) {
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name +
           "\"; filename=\"" + fileName + "\"\r\nContent-Type: " + mimeType +
           "\r\nContent-Transfer-Encoding: binary\r\n\r\n";
  };
  // Files are read unlocked: a large one must not hold up a cancel from another thread.
  for (const auto& file : files) {
    std::string path = textOf(file, "filepath");
    auto content = readFilePart(path, url, error);
    if (!content) return std::nullopt;
    body += partHead(textOf(file, "name"), lastPathComponent(path), textOf(file, "mimetype"));
    body += *content;
    body += "\r\n";
  }
  for (const auto& entry : data) {
    body += partHead(textOf(entry, "name"), textOf(entry, "filename"), textOf(entry, "mimetype"));
    const Value* bytes = platform::find(entry, "data");
    if (bytes && bytes->asBytes()) body.append(bytes->asBytes()->begin(), bytes->asBytes()->end());
    body += "\r\n";
  }
  body += "--" + boundary + "--\r\n";
  platform::MutexLock lock(mutex_);
  _request.setValue("multipart/form-data; charset=" + charsetName() + "; boundary=" + boundary,
                    "Content-Type");
  _request.setValue(std::to_string(body.size()), "Content-Length");
  return bytesOf(body);
}

// ---- Cache headers ----

Dictionary HttpOperation::cacheHeadersForResponse(const platform::URLResponse& response,
                                                  platform::Date now) {
  Dictionary headers;
  std::optional<platform::Date> expires;
  auto contentType = response.valueForHTTPHeaderField("Content-Type");
  auto lastModified = response.valueForHTTPHeaderField("Last-Modified");
  auto eTag = response.valueForHTTPHeaderField("ETag");
  if (!contentType || containsText(*contentType, "image")) {
    expires = SaturatingDate::adding(now, lastModified || eTag ? 86400 : 604800);
  }
  if (auto cacheControl = response.valueForHTTPHeaderField("Cache-Control")) {
    std::size_t at = 0;
    while (at <= cacheControl->size()) {
      std::size_t end = cacheControl->find(',', at);
      if (end == std::string::npos) end = cacheControl->size();
      std::string part = cacheControl->substr(at, end - at);
      if (containsText(part, "max-age")) {
        auto equals = part.find('=');
        std::int64_t age =
            equals == std::string::npos ? 0 : platform::leadingInteger(part.substr(equals + 1));
        // A huge age stops at the latest date instead of wrapping into the past.
        expires = SaturatingDate::adding(now, age);
      }
      if (containsText(part, "no-cache")) expires = SaturatingDate::adding(now, 60);
      at = end + 1;
    }
  }
  if (expires) {
    if (auto text = RFC1123::rfc1123String(*expires)) headers["Expires"] = *text;
  } else if (auto own = response.valueForHTTPHeaderField("Expires")) {
    headers["Expires"] = *own;
  }
  if (lastModified) headers["Last-Modified"] = *lastModified;
  if (eTag) headers["ETag"] = *eTag;
  return headers;
}

// ---- Connection delegate ----

void HttpOperation::connectionDidReceiveResponse(platform::URLConnection&,
                                                 const platform::URLResponse& response) {
  std::vector<std::shared_ptr<platform::OutputStream>> streams;
  {
    platform::MutexLock lock(mutex_);
    _response = response;
    streams = _downloadStreams;
    if (streams.empty()) {
      _mutableData = Bytes();
    } else {
      _mutableData.reset();
    }
    if (_request.httpMethod() == "GET" && streams.empty())
      _cacheHeaders = cacheHeadersForResponse(response, platform::Clock::shared()->now());
  }
  for (const auto& stream : streams) stream->open();
}

void HttpOperation::connectionDidReceiveData(platform::URLConnection&, const Bytes& data) {
  std::vector<std::shared_ptr<platform::OutputStream>> streams;
  std::vector<ProgressBlock> progress;
  double fraction = 0;
  {
    platform::MutexLock lock(mutex_);
    if (_downloadedDataSize == 0) {
      auto range = _request.valueForHTTPHeaderField("Range");
      if (range && range->rfind("bytes=", 0) == 0 && !range->empty() && range->back() == '-') {
        _startPosition = platform::leadingInteger(range->substr(6, range->size() - 7));
        _downloadedDataSize = static_cast<std::uint64_t>(std::max<std::int64_t>(0, _startPosition));
      }
    }
    streams = _downloadStreams;
    if (streams.empty() && _mutableData)
      _mutableData->insert(_mutableData->end(), data.begin(), data.end());
    _downloadedDataSize += data.size();
    std::int64_t expected = _response ? _response->expectedContentLength() : -1;
    if (expected > 0) {
      progress = _downloadProgressChangedHandlers;
      fraction = static_cast<double>(_downloadedDataSize) /
                 (static_cast<double>(_startPosition) + static_cast<double>(expected));
    }
  }
  for (const auto& stream : streams) {
    if (stream->hasSpaceAvailable()) stream->write(data.data(), data.size());
  }
  for (const auto& handler : progress) handler(fraction);
}

void HttpOperation::connectionDidSendBodyData(platform::URLConnection&, std::int64_t,
                                              std::int64_t totalBytesWritten,
                                              std::int64_t totalBytesExpectedToWrite) {
  if (totalBytesExpectedToWrite <= 0) return;
  std::vector<ProgressBlock> handlers;
  {
    platform::MutexLock lock(mutex_);
    handlers = _uploadProgressChangedHandlers;
  }
  double fraction =
      static_cast<double>(totalBytesWritten) / static_cast<double>(totalBytesExpectedToWrite);
  for (const auto& handler : handlers) handler(fraction);
}

void HttpOperation::connectionDidFinishLoading(platform::URLConnection&) {
  if (!finishUnlessCancelled()) return;
  // Queued on the main queue, so the task ends after the handlers below have run.
  endBackgroundTask();
  closeStreams();
  int status = HTTPStatusCode();
  if (status >= 200 && status < 300) {
    {
      platform::MutexLock lock(mutex_);
      _cachedResponse.reset();
    }
    notifyCache();
    operationSucceeded();
    return;
  }
  if (status == 304) {
    std::vector<VoidBlock> handlers;
    {
      platform::MutexLock lock(mutex_);
      handlers = _notModifiedHandlers;
    }
    for (const auto& handler : handlers) handler();
    return;
  }
  // Every other status is a failure the caller must hear of, redirects that were not followed
  // and out-of-range codes included; the status is the error's code.
  Dictionary info;
  {
    platform::MutexLock lock(mutex_);
    for (const auto& [name, value] : _response->allHeaderFields().fields()) info[name] = value;
  }
  operationFailedWithError(Error(platform::kURLErrorDomain, status, std::move(info)));
}

void HttpOperation::connectionDidFailWithError(platform::URLConnection&, const Error& error) {
  if (!finishUnlessCancelled()) return;
  endBackgroundTask();
  {
    platform::MutexLock lock(mutex_);
    _mutableData.reset();
    _downloadedDataSize = 0;
  }
  closeStreams();
  operationFailedWithError(error);
}

void HttpOperation::operationSucceeded() {
  std::vector<ResponseBlock> handlers;
  {
    platform::MutexLock lock(mutex_);
    handlers = _responseBlocks;
  }
  auto me = self();
  for (const auto& handler : handlers) handler(me);
}

void HttpOperation::operationFailedWithError(const Error& error) {
  std::vector<ErrorBlock> errorHandlers;
  std::vector<ResponseErrorBlock> operationErrorHandlers;
  {
    platform::MutexLock lock(mutex_);
    _error = error;
    errorHandlers = _errorBlocks;
    operationErrorHandlers = _errorBlocksType2;
  }
  for (const auto& handler : errorHandlers) handler(error);
  auto me = self();
  for (const auto& handler : operationErrorHandlers) handler(me, error);
  auto host = HttpEngineHost::installed();
  if (host && host->isInBackground()) showLocalNotification(*host, error);
}

void HttpOperation::showLocalNotification(HttpEngineHost& host, const Error& error) {
  std::optional<platform::LocalNotification> notification;
  {
    platform::MutexLock lock(mutex_);
    notification = _localNotification;
    if (!notification && _shouldShowLocalNotificationOnError)
      notification = platform::LocalNotification{error.localizedDescription(), "Dismiss", {}, {}};
  }
  if (notification) host.presentLocalNotificationNow(*notification);
}

// ---- Diagnostics ----

std::string HttpOperation::curlCommandLineString() const {
  bool encodedBody;
  {
    platform::MutexLock lock(mutex_);
    encodedBody =
        isBodyMethod(_request.httpMethod()) && _postDataEncoding != kPostDataEncodingTypeURL;
  }
  // Unlocked: a custom encoder may ask the operation about itself.
  std::string encoded = encodedBody ? encodedPostDataString() : std::string();
  platform::MutexLock lock(mutex_);
  std::string text = "curl -X " + _request.httpMethod();
  if (_filesToBePosted.empty() && _dataToBePosted.empty()) {
    for (const auto& [name, value] : _request.allHTTPHeaderFields().fields())
      text += " -H '" + name + ": " + value + "'";
  }
  text += " '" + _request.url() + "'";
  if (!isBodyMethod(_request.httpMethod())) return text;
  if (_postDataEncoding != kPostDataEncodingTypeURL) {
    text += " -d '" + encoded + "'";
  } else {
    const char* option = _filesToBePosted.empty() ? "-d" : "-F";
    for (const auto& [key, value] : _fieldsToBePosted)
      text += std::string(" ") + option + " '" + key + "=" + value.stringValue() + "'";
  }
  for (const auto& file : _filesToBePosted) {
    text += " -F '" + textOf(file, "name") + "=@" + textOf(file, "filepath") +
            ";type=" + textOf(file, "mimetype") + "'";
  }
  return text;
}

std::string HttpOperation::description() const {
  std::string text =
      platform::formatDate(platform::Clock::shared()->now(), "yyyy-MM-dd HH:mm:ss Z") +
      "\nRequest\n-------\n" + curlCommandLineString();
  auto body = responseString();
  if (body && !body->empty()) text += "\n--------\nResponse\n--------\n" + *body + "\n";
  return text;
}

// ---- Archiving and copying ----

nlohmann::json HttpOperation::encodeWithCoder() {
  // The archive always says ready; the live operation keeps its state, so a running one that
  // is frozen and cancelled still finishes and leaves its queue.
  platform::MutexLock lock(mutex_);
  auto toJson = [](const Dictionary& d) { return platform::Json::fromValue(Value(d)); };
  auto list = [&](const std::vector<Dictionary>& items) {
    nlohmann::json array = nlohmann::json::array();
    for (const auto& item : items) array.push_back(toJson(item));
    return array;
  };
  auto optionalText = [](const std::optional<std::string>& s) -> nlohmann::json {
    return s ? nlohmann::json(*s) : nlohmann::json();
  };
  nlohmann::json archive = {
      {"stringEncoding", _stringEncoding},
      {"postDataEncoding", _postDataEncoding},
      {"uniqueId", _uniqueId},
      {"request", requestToJson(_request)},
      {"fieldsToBePosted", toJson(_fieldsToBePosted)},
      {"filesToBePosted", list(_filesToBePosted)},
      {"dataToBePosted", list(_dataToBePosted)},
      {"username", optionalText(_username)},
      {"password", optionalText(_password)},
      {"clientCertificate", optionalText(_clientCertificate)},
      {"clientCertificatePassword", optionalText(_clientCertificatePassword)},
      {"shouldContinueWithInvalidCertificate", _shouldContinueWithInvalidCertificate},
      {"localNotification", notificationToJson(_localNotification)},
      {"state", static_cast<int>(kStateReady)},
      {"isCancelled", _isCancelled},
      {"mutableData",
       _mutableData ? nlohmann::json(platform::base64Encode(*_mutableData)) : nlohmann::json()},
      {"downloadedDataSize", _downloadedDataSize},
      // Streams are live objects; a restored operation has none.
      {"downloadStreams", nlohmann::json::array()},
      {"startPosition", _startPosition},
      {"credentialPersistence", _credentialPersistence},
  };
  if (_response) {
    nlohmann::json headers = nlohmann::json::array();
    for (const auto& [name, value] : _response->allHeaderFields().fields())
      headers.push_back({name, value});
    archive["response"] = {
        {"url", _response->url()}, {"status", _response->statusCode()}, {"headers", headers}};
  } else {
    archive["response"] = nullptr;
  }
  return archive;
}

HttpOperation::Ptr HttpOperation::initWithCoder(const nlohmann::json& archive,
                                                std::string* failure) {
  using platform::Json;
  auto refuse = [&](const char* why) -> Ptr {
    if (failure) *failure = why;
    return nullptr;
  };
  if (!archive.is_object()) return refuse("the archive is not a dictionary");
  const nlohmann::json* request = Json::objectValue(archive, "request");
  if (!request) return refuse("the archive holds no request");
  auto url = Json::stringValue(*request, "url");
  if (!url || !isValidURL(*url)) return refuse("the archived request has no usable URL");
  // Every part of a multipart body needs its texts; a part short of one cannot be sent.
  auto files = archivedParts(archive, "filesToBePosted", {"filepath", "name", "mimetype"});
  if (!files) return refuse("a file entry of the archive is incomplete");
  auto data = archivedParts(archive, "dataToBePosted", {"data", "name", "mimetype", "filename"});
  if (!data) return refuse("a data entry of the archive is incomplete");
  for (auto& entry : *data) {
    // Data entries were archived as Base64 text.
    auto bytes = platform::base64Decode(*entry["data"].asText());
    if (!bytes) return refuse("a data entry of the archive is not Base64");
    entry["data"] = std::move(*bytes);
  }

  auto operation = makeEmpty<HttpOperation>();
  platform::MutexLock lock(operation->mutex_);
  auto optionalText = [&](const char* key) { return Json::stringValue(archive, key); };
  operation->_stringEncoding = static_cast<unsigned>(
      Json::intValue(archive, "stringEncoding").value_or(kUTF8StringEncoding));
  operation->_postDataEncoding =
      static_cast<int>(Json::intValue(archive, "postDataEncoding").value_or(0));
  operation->_uniqueId = optionalText("uniqueId").value_or("");
  operation->_request = requestFromJson(*request);
  if (auto* fields = Json::objectValue(archive, "fieldsToBePosted")) {
    Value value = Json::toValue(*fields);
    if (auto* d = value.asDictionary()) operation->_fieldsToBePosted = *d;
  }
  operation->_filesToBePosted = std::move(*files);
  operation->_dataToBePosted = std::move(*data);
  operation->_username = optionalText("username");
  operation->_password = optionalText("password");
  operation->_clientCertificate = optionalText("clientCertificate");
  operation->_clientCertificatePassword = optionalText("clientCertificatePassword");
  operation->_shouldContinueWithInvalidCertificate =
      Json::boolValue(archive, "shouldContinueWithInvalidCertificate").value_or(false);
  // Archives always say ready; one that claims to be running or finished would sit in the
  // queue for ever, never started.
  operation->_state = kStateReady;
  operation->_isCancelled = Json::boolValue(archive, "isCancelled").value_or(false);
  if (auto text = optionalText("mutableData"))
    operation->_mutableData = platform::base64Decode(*text);
  operation->_downloadedDataSize =
      static_cast<std::uint64_t>(Json::intValue(archive, "downloadedDataSize").value_or(0));
  operation->_startPosition = Json::intValue(archive, "startPosition").value_or(0);
  operation->_credentialPersistence = static_cast<unsigned>(
      Json::intValue(archive, "credentialPersistence").value_or(kPersistenceForSession));
  if (auto* response = Json::objectValue(archive, "response")) {
    platform::HeaderFields headers;
    if (auto* list = Json::arrayValue(*response, "headers")) {
      for (const auto& pair : *list) {
        if (pair.is_array() && pair.size() == 2 && pair[0].is_string() && pair[1].is_string())
          headers.set(pair[0].get<std::string>(), pair[1].get<std::string>());
      }
    }
    operation->_response = platform::URLResponse(
        Json::stringValue(*response, "url").value_or(""),
        static_cast<int>(Json::intValue(*response, "status").value_or(0)), headers);
  }
  operation->_localNotification = notificationFromJson(archive);
  operation->_freezable = !operation->_uniqueId.empty();
  if (operation->_request.httpMethod() == "GET") operation->_cacheHeaders = Dictionary();
  return operation;
}

HttpOperation::Ptr HttpOperation::copy() const {
  auto other = newInstance();
  // The copy is new and not shared yet; each lock is held on its own.
  platform::MutexLock lock(mutex_);
  platform::MutexLock otherLock(other->mutex_);
  other->_postDataEncoding = _postDataEncoding;
  other->_stringEncoding = _stringEncoding;
  other->_uniqueId = _uniqueId;
  other->_request = _request;
  other->_response = _response;
  other->_fieldsToBePosted = _fieldsToBePosted;
  other->_filesToBePosted = _filesToBePosted;
  other->_dataToBePosted = _dataToBePosted;
  other->_username = _username;
  other->_password = _password;
  other->_clientCertificate = _clientCertificate;
  other->_clientCertificatePassword = _clientCertificatePassword;
  other->_responseBlocks = _responseBlocks;
  other->_errorBlocks = _errorBlocks;
  other->_errorBlocksType2 = _errorBlocksType2;
  other->_state = _state;
  other->_isCancelled = _isCancelled;
  other->_mutableData = _mutableData;
  other->_downloadedDataSize = _downloadedDataSize;
  other->_notModifiedHandlers = _notModifiedHandlers;
  other->_uploadProgressChangedHandlers = _uploadProgressChangedHandlers;
  other->_downloadProgressChangedHandlers = _downloadProgressChangedHandlers;
  other->_downloadStreams = _downloadStreams;
  other->_cachedResponse = _cachedResponse;
  other->_cacheHandlingBlock = _cacheHandlingBlock;
  other->_startPosition = _startPosition;
  other->_credentialPersistence = _credentialPersistence;
  other->_freezable = _freezable;
  other->_cacheHeaders = _cacheHeaders;
  return other;
}
