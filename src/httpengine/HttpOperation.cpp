#include "httpengine/HttpOperation.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "httpengine/HttpBase64.h"
#include "httpengine/HttpEngineAdditions.h"
#include "httpengine/RFC1123.h"
#include "httpengine/RequestEncoding.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/DateFormat.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Utf8.h"

using platform::Bytes;
using platform::Dictionary;
using platform::Error;
using platform::Value;
namespace dispatch = platform::dispatch;

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

}  // namespace

HttpOperation::HttpOperation() = default;

HttpOperation::~HttpOperation() {
  if (connection_) connection_->cancel();
}

HttpOperation::Ptr HttpOperation::self() const {
  return std::static_pointer_cast<HttpOperation>(
      std::const_pointer_cast<platform::Operation>(shared_from_this()));
}

bool HttpOperation::initWithURLString(const std::string& urlString,
                                      const std::optional<Dictionary>& params,
                                      const std::optional<std::string>& method) {
  std::lock_guard lock(mutex_);
  if (params) fieldsToBePosted_ = *params;
  stringEncoding_ = kUTF8StringEncoding;
  std::string httpMethod = method.value_or("GET");
  if (httpMethod == "GET") cacheHeaders_ = Dictionary();
  std::string finalURL = urlString;
  if ((httpMethod == "GET" || httpMethod == "DELETE") && !fieldsToBePosted_.empty()) {
    // Used as is: a URL that already holds "?" gets a second one, as callers have relied on.
    finalURL = urlString + "?" + RequestEncoding::urlEncodedKeyValueString(fieldsToBePosted_);
  }
  if (!isValidURL(finalURL)) return false;
  request_ = platform::URLRequest(finalURL);
  request_.setTimeoutInterval(kRequestTimeout);
  request_.setHTTPMethod(httpMethod);
  request_.setValue(joined(preferredLanguages(), ", ") + ", en-us", "Accept-Language");
  if ((httpMethod == "POST" || httpMethod == "PUT") && !fieldsToBePosted_.empty())
    setPostDataEncoding(kPostDataEncodingTypeURL);
  state_ = kStateReady;
  return true;
}

// ---- Request shaping ----

void HttpOperation::addParams(const Dictionary& params) {
  std::lock_guard lock(mutex_);
  for (const auto& [key, value] : params) fieldsToBePosted_[key] = value;
}

void HttpOperation::addHeaders(const HeaderDictionary& headers) {
  std::lock_guard lock(mutex_);
  for (const auto& [name, value] : headers) request_.addValue(value, name);
}

std::string HttpOperation::charsetName() const {
  switch (stringEncoding_) {
    case kASCIIStringEncoding:
      return "us-ascii";
    case kISOLatin1StringEncoding:
      return "iso-8859-1";
    default:
      return "utf-8";
  }
}

void HttpOperation::setPostDataEncoding(int encoding) {
  std::lock_guard lock(mutex_);
  postDataEncoding_ = encoding;
  const char* type = encoding == kPostDataEncodingTypeURL     ? "application/x-www-form-urlencoded"
                     : encoding == kPostDataEncodingTypeJSON  ? "application/json"
                     : encoding == kPostDataEncodingTypePlist ? "application/x-plist"
                                                              : nullptr;
  if (type) request_.setValue(std::string(type) + "; charset=" + charsetName(), "Content-Type");
}

int HttpOperation::postDataEncoding() const {
  std::lock_guard lock(mutex_);
  return postDataEncoding_;
}

void HttpOperation::setAuthorizationHeaderValue(const std::string& value,
                                                const std::string& authType) {
  std::lock_guard lock(mutex_);
  request_.setValue(authType + " " + value, "Authorization");
}

void HttpOperation::setUsername(const std::string& username, const std::string& password) {
  std::lock_guard lock(mutex_);
  username_ = username;
  password_ = password;
}

void HttpOperation::setUsername(const std::string& username, const std::string& password,
                                bool /*basicAuth*/) {
  setUsername(username, password);
  setAuthorizationHeaderValue(HttpBase64::base64EncodedString(bytesOf(username + ":" + password)),
                              "Basic");
}

void HttpOperation::setCustomPostDataEncodingHandler(EncodingBlock handler,
                                                     const std::string& contentType) {
  std::lock_guard lock(mutex_);
  postDataEncoding_ = kPostDataEncodingTypeCustom;
  postDataEncodingHandler_ = std::move(handler);
  request_.setValue(contentType + "; charset=" + charsetName(), "Content-Type");
}

void HttpOperation::setUploadStream(std::shared_ptr<std::istream> stream) {
  std::lock_guard lock(mutex_);
  request_.setHTTPBodyStream(std::move(stream));
}

void HttpOperation::addData(const Bytes& data, const std::string& key) {
  addData(data, key, "application/octet-stream", "file");
}

void HttpOperation::addData(const Bytes& data, const std::string& key, const std::string& mimeType,
                            const std::string& fileName) {
  std::lock_guard lock(mutex_);
  if (request_.httpMethod() == "GET") request_.setHTTPMethod("POST");
  dataToBePosted_.push_back(
      {{"data", Value(data)}, {"name", key}, {"mimetype", mimeType}, {"filename", fileName}});
}

void HttpOperation::addFile(const std::string& filePath, const std::string& key) {
  addFile(filePath, key, "application/octet-stream");
}

void HttpOperation::addFile(const std::string& filePath, const std::string& key,
                            const std::string& mimeType) {
  std::lock_guard lock(mutex_);
  if (request_.httpMethod() == "GET") request_.setHTTPMethod("POST");
  filesToBePosted_.push_back({{"filepath", filePath}, {"name", key}, {"mimetype", mimeType}});
}

void HttpOperation::setFreezable(bool freezable) {
  std::lock_guard lock(mutex_);
  if (freezable && request_.httpMethod() == "GET") return;
  freezable_ = freezable;
  if (freezable && uniqueId_.empty()) uniqueId_ = HttpEngineAdditions::uniqueString();
}

bool HttpOperation::freezable() const {
  std::lock_guard lock(mutex_);
  return freezable_;
}

// ---- Handlers ----

void HttpOperation::addCompletionHandler(ResponseBlock completion,
                                         ResponseErrorBlock errorHandler) {
  std::lock_guard lock(mutex_);
  if (completion) responseBlocks_.push_back(std::move(completion));
  if (errorHandler) errorBlocksType2_.push_back(std::move(errorHandler));
}

void HttpOperation::onCompletion(ResponseBlock completion, ErrorBlock errorHandler) {
  std::lock_guard lock(mutex_);
  responseBlocks_.push_back(std::move(completion));
  errorBlocks_.push_back(std::move(errorHandler));
}

void HttpOperation::onNotModified(VoidBlock handler) {
  std::lock_guard lock(mutex_);
  notModifiedHandlers_.push_back(std::move(handler));
}

void HttpOperation::onUploadProgressChanged(ProgressBlock handler) {
  std::lock_guard lock(mutex_);
  uploadProgressChangedHandlers_.push_back(std::move(handler));
}

void HttpOperation::onDownloadProgressChanged(ProgressBlock handler) {
  std::lock_guard lock(mutex_);
  downloadProgressChangedHandlers_.push_back(std::move(handler));
}

void HttpOperation::addDownloadStream(std::shared_ptr<platform::OutputStream> stream) {
  std::lock_guard lock(mutex_);
  if (stream) downloadStreams_.push_back(std::move(stream));
}

void HttpOperation::setCacheHandler(ResponseBlock handler) {
  std::lock_guard lock(mutex_);
  cacheHandlingBlock_ = std::move(handler);
}

void HttpOperation::setOperationStateChangedHandler(StateBlock handler) {
  std::lock_guard lock(mutex_);
  operationStateChangedHandler_ = std::move(handler);
}

void HttpOperation::setAuthHandler(AuthBlock handler) {
  std::lock_guard lock(mutex_);
  authHandler_ = std::move(handler);
}

// ---- Results ----

std::optional<Bytes> HttpOperation::responseData() const {
  std::lock_guard lock(mutex_);
  if (state_ == kStateFinished) return mutableData_;
  return cachedResponse_;
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
  std::lock_guard lock(mutex_);
  return cachedResponse_.has_value();
}

std::optional<Error> HttpOperation::error() const {
  std::lock_guard lock(mutex_);
  return error_;
}

std::string HttpOperation::url() const {
  std::lock_guard lock(mutex_);
  return request_.url();
}

platform::URLRequest HttpOperation::readonlyRequest() const {
  std::lock_guard lock(mutex_);
  return request_;
}

std::optional<platform::URLResponse> HttpOperation::readonlyResponse() const {
  std::lock_guard lock(mutex_);
  return response_;
}

Dictionary HttpOperation::readonlyPostDictionary() const {
  std::lock_guard lock(mutex_);
  return fieldsToBePosted_;
}

std::string HttpOperation::HTTPMethod() const {
  std::lock_guard lock(mutex_);
  return request_.httpMethod();
}

int HttpOperation::HTTPStatusCode() const {
  std::lock_guard lock(mutex_);
  return response_ ? response_->statusCode() : 0;
}

std::uint64_t HttpOperation::downloadedDataSize() const {
  std::lock_guard lock(mutex_);
  return downloadedDataSize_;
}

std::int64_t HttpOperation::startPosition() const {
  std::lock_guard lock(mutex_);
  return startPosition_;
}

std::size_t HttpOperation::completionHandlerCount() const {
  std::lock_guard lock(mutex_);
  return responseBlocks_.size();
}

int HttpOperation::state() const {
  std::lock_guard lock(mutex_);
  return state_;
}

// ---- Settings ----

void HttpOperation::setStringEncoding(unsigned encoding) {
  std::lock_guard lock(mutex_);
  stringEncoding_ = encoding;
}

unsigned HttpOperation::stringEncoding() const {
  std::lock_guard lock(mutex_);
  return stringEncoding_;
}

bool HttpOperation::shouldContinueWithInvalidCertificate() const {
  std::lock_guard lock(mutex_);
  return shouldContinueWithInvalidCertificate_;
}

void HttpOperation::setShouldContinueWithInvalidCertificate(bool value) {
  std::lock_guard lock(mutex_);
  shouldContinueWithInvalidCertificate_ = value;
}

void HttpOperation::setClientCertificate(const std::string& pkcs12Path) {
  std::lock_guard lock(mutex_);
  clientCertificate_ = pkcs12Path;
}

void HttpOperation::setClientCertificatePassword(const std::string& password) {
  std::lock_guard lock(mutex_);
  clientCertificatePassword_ = password;
}

void HttpOperation::setShouldNotCacheResponse(bool value) {
  std::lock_guard lock(mutex_);
  shouldNotCacheResponse_ = value;
}

void HttpOperation::setShouldCacheResponseEvenIfProtocolIsHTTPS(bool value) {
  std::lock_guard lock(mutex_);
  shouldCacheResponseEvenIfProtocolIsHTTPS_ = value;
}

void HttpOperation::setCredentialPersistence(unsigned persistence) {
  std::lock_guard lock(mutex_);
  credentialPersistence_ = persistence;
}

void HttpOperation::setTimeoutInterval(double seconds) {
  std::lock_guard lock(mutex_);
  request_.setTimeoutInterval(seconds);
}

// ---- Operation life ----

bool HttpOperation::isReady() const { return state() == kStateReady; }
bool HttpOperation::isExecuting() const { return state() == kStateExecuting; }
bool HttpOperation::isFinished() const { return state() == kStateFinished; }
bool HttpOperation::isCancelled() const {
  std::lock_guard lock(mutex_);
  return isCancelled_;
}

void HttpOperation::setState(int state) {
  StateBlock handler;
  {
    std::lock_guard lock(mutex_);
    state_ = state;
    handler = operationStateChangedHandler_;
  }
  stateDidChange();
  if (handler) handler(state);
}

void HttpOperation::start() {
  {
    std::lock_guard lock(mutex_);
    if (!isCancelled_ && isBodyMethod(request_.httpMethod()) && !request_.httpBodyStream())
      request_.setHTTPBody(bodyData());
  }
  if (isCancelled()) {
    setState(kStateFinished);
    return;
  }
  // Executing before the connection exists, so a quick finish on the main thread can never be
  // overwritten by this state.
  setState(kStateExecuting);
  auto me = self();
  dispatch::Queue::main()->async([me] { me->startConnection(); });
}

void HttpOperation::startConnection() {
  std::lock_guard lock(mutex_);
  if (isCancelled_ || state_ != kStateExecuting) return;
  platform::URLRequest request = request_;
  // Redirects keep the method, headers and body of the operation's own request.
  request.setKeepsMethodOnRedirect(true);
  request.setAllowsInvalidCertificates(shouldContinueWithInvalidCertificate_);
  if (username_ && password_) request.setCredential(platform::Credential{*username_, *password_});
  if (clientCertificate_)
    request.setClientCertificate(
        platform::ClientCertificate{*clientCertificate_, clientCertificatePassword_});
  std::weak_ptr<platform::URLConnectionDelegate> delegate = self();
  connection_ = platform::URLConnection::make(std::move(request), delegate);
  connection_->scheduleInRunLoop(platform::RunLoop::main());
  connection_->start();
}

void HttpOperation::closeStreams() {
  std::vector<std::shared_ptr<platform::OutputStream>> streams;
  {
    std::lock_guard lock(mutex_);
    streams = downloadStreams_;
  }
  for (const auto& stream : streams) stream->close();
}

void HttpOperation::cancel() {
  std::shared_ptr<platform::URLConnection> connection;
  std::vector<std::shared_ptr<platform::OutputStream>> streams;
  bool wasExecuting;
  {
    std::lock_guard lock(mutex_);
    if (state_ == kStateFinished) return;
    isCancelled_ = true;
    connection = std::move(connection_);
    responseBlocks_.clear();
    errorBlocks_.clear();
    errorBlocksType2_.clear();
    notModifiedHandlers_.clear();
    uploadProgressChangedHandlers_.clear();
    downloadProgressChangedHandlers_.clear();
    streams.swap(downloadStreams_);
    authHandler_ = nullptr;
    mutableData_.reset();
    cacheHandlingBlock_ = nullptr;
    downloadedDataSize_ = 0;
    wasExecuting = state_ == kStateExecuting;
  }
  // Outside the lock: cancelling waits for a delivery in progress on the main thread, which
  // may need the lock to finish.
  if (connection) connection->cancel();
  for (const auto& stream : streams) stream->close();
  if (wasExecuting) setState(kStateFinished);
  platform::Operation::cancel();
}

// ---- Engine hooks ----

bool HttpOperation::isCacheable() const {
  std::lock_guard lock(mutex_);
  if (shouldNotCacheResponse_ || username_ || password_ || clientCertificate_ ||
      clientCertificatePassword_)
    return false;
  if (request_.httpMethod() != "GET") return false;
  std::string scheme = request_.url().substr(0, request_.url().find(':'));
  if (platform::equalsIgnoringCase(scheme, "https"))
    return shouldCacheResponseEvenIfProtocolIsHTTPS_;
  return downloadStreams_.empty();
}

void HttpOperation::notifyCache() {
  ResponseBlock block;
  {
    std::lock_guard lock(mutex_);
    block = cacheHandlingBlock_;
  }
  if (!isCacheable() || isCancelled() || !block) return;
  block(self());
}

void HttpOperation::setCachedData(const Bytes& data) {
  {
    std::lock_guard lock(mutex_);
    cachedResponse_ = data;
  }
  operationSucceeded();
}

void HttpOperation::updateOperationBasedOnPreviousHeaders(const Dictionary& headers) {
  std::lock_guard lock(mutex_);
  if (auto* modified = platform::find(headers, "Last-Modified"); modified && modified->asText())
    request_.setValue(*modified->asText(), "IF-MODIFIED-SINCE");
  if (auto* tag = platform::find(headers, "ETag"); tag && tag->asText())
    request_.setValue(*tag->asText(), "IF-NONE-MATCH");
}

void HttpOperation::updateHandlersFromOperation(const HttpOperation& other) {
  if (&other == this) return;
  std::scoped_lock lock(mutex_, other.mutex_);
  auto append = [](auto& to, const auto& from) { to.insert(to.end(), from.begin(), from.end()); };
  append(responseBlocks_, other.responseBlocks_);
  append(errorBlocks_, other.errorBlocks_);
  append(errorBlocksType2_, other.errorBlocksType2_);
  append(notModifiedHandlers_, other.notModifiedHandlers_);
  append(uploadProgressChangedHandlers_, other.uploadProgressChangedHandlers_);
  append(downloadProgressChangedHandlers_, other.downloadProgressChangedHandlers_);
  append(downloadStreams_, other.downloadStreams_);
}

std::string HttpOperation::uniqueIdentifier() const {
  std::lock_guard lock(mutex_);
  std::string text = request_.httpMethod() + " " + request_.url();
  if (username_ || password_)
    text += " [" + username_.value_or("") + ":" + password_.value_or("") + "]";
  if (freezable_) text += uniqueId_;
  return HttpEngineAdditions::md5(text);
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
  std::lock_guard lock(mutex_);
  return cacheHeaders_.value_or(Dictionary());
}

// ---- Authentication ----

HttpOperation::ChallengeAnswer HttpOperation::answerChallenge(
    const AuthenticationChallenge& challenge) const {
  using Trust = AuthenticationChallenge::TrustResult;
  AuthBlock handler;
  {
    std::lock_guard lock(mutex_);
    if (challenge.previousFailureCount != 0) return ChallengeAnswer::ContinueWithoutCredential;
    const std::string& method = challenge.authenticationMethod;
    bool passwordMethod =
        method == kAuthenticationMethodDefault || method == kAuthenticationMethodHTTPBasic ||
        method == kAuthenticationMethodHTTPDigest || method == kAuthenticationMethodNTLM;
    if (passwordMethod && username_ && password_) return ChallengeAnswer::UseCredential;
    if (method == kAuthenticationMethodClientCertificate && clientCertificate_) {
      return ChallengeAnswer::UseCredential;
    }
    if (method == kAuthenticationMethodServerTrust) {
      // Only a trust the system accepts is used; a recoverable failure (self-signed, wrong
      // host, expired) is accepted only when the caller asked to continue with invalid
      // certificates.
      if (challenge.trustResult == Trust::Proceed || challenge.trustResult == Trust::Unspecified)
        return ChallengeAnswer::UseCredential;
      return shouldContinueWithInvalidCertificate_ ? ChallengeAnswer::UseCredential
                                                   : ChallengeAnswer::ContinueWithoutCredential;
    }
    handler = authHandler_;
  }
  if (!handler) return ChallengeAnswer::ContinueWithoutCredential;
  handler(challenge);
  return ChallengeAnswer::Handled;
}

// ---- Bodies ----

std::string HttpOperation::encodedPostDataString() const {
  std::lock_guard lock(mutex_);
  if (postDataEncodingHandler_) return postDataEncodingHandler_(fieldsToBePosted_);
  switch (postDataEncoding_) {
    case kPostDataEncodingTypeURL:
      return RequestEncoding::urlEncodedKeyValueString(fieldsToBePosted_);
    case kPostDataEncodingTypeJSON:
      return RequestEncoding::jsonEncodedKeyValueString(fieldsToBePosted_);
    case kPostDataEncodingTypePlist:
      return RequestEncoding::plistEncodedKeyValueString(fieldsToBePosted_);
    default:
      return "";
  }
}

Bytes HttpOperation::bodyData() {
  std::lock_guard lock(mutex_);
  if (filesToBePosted_.empty() && dataToBePosted_.empty()) return bytesOf(encodedPostDataString());
  return multipartBody();
}

Bytes HttpOperation::multipartBody() {
  const std::string boundary = kBoundary;
  std::string body;
  auto text = [](const Value& v) { return v.stringValue(); };
  for (const auto& [key, value] : fieldsToBePosted_) {
    body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + key + "\"\r\n\r\n" +
            value.stringValue() + "\r\n";
  }
  auto partHead = [&](const std::string& name, const std::string& fileName,
                      const std::string& mimeType) {
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name +
           "\"; filename=\"" + fileName + "\"\r\nContent-Type: " + mimeType +
           "\r\nContent-Transfer-Encoding: binary\r\n\r\n";
  };
  for (const auto& file : filesToBePosted_) {
    std::string path = text(file.at("filepath"));
    body += partHead(text(file.at("name")), lastPathComponent(path), text(file.at("mimetype")));
    std::ifstream in(path, std::ios::binary);
    body.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    body += "\r\n";
  }
  for (const auto& data : dataToBePosted_) {
    body += partHead(text(data.at("name")), text(data.at("filename")), text(data.at("mimetype")));
    if (const Bytes* bytes = data.at("data").asBytes()) body.append(bytes->begin(), bytes->end());
    body += "\r\n";
  }
  body += "--" + boundary + "--\r\n";
  request_.setValue("multipart/form-data; charset=" + charsetName() + "; boundary=" + boundary,
                    "Content-Type");
  request_.setValue(std::to_string(body.size()), "Content-Length");
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
    expires = now + std::chrono::seconds(lastModified || eTag ? 86400 : 604800);
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
        expires = now + std::chrono::seconds(age);
      }
      if (containsText(part, "no-cache")) expires = now + std::chrono::seconds(60);
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
    std::lock_guard lock(mutex_);
    response_ = response;
    streams = downloadStreams_;
    if (streams.empty()) {
      mutableData_ = Bytes();
    } else {
      mutableData_.reset();
    }
    if (request_.httpMethod() == "GET" && streams.empty())
      cacheHeaders_ = cacheHeadersForResponse(response, platform::Clock::shared()->now());
  }
  for (const auto& stream : streams) stream->open();
}

void HttpOperation::connectionDidReceiveData(platform::URLConnection&, const Bytes& data) {
  std::vector<std::shared_ptr<platform::OutputStream>> streams;
  std::vector<ProgressBlock> progress;
  double fraction = 0;
  {
    std::lock_guard lock(mutex_);
    if (downloadedDataSize_ == 0) {
      auto range = request_.valueForHTTPHeaderField("Range");
      if (range && range->rfind("bytes=", 0) == 0 && !range->empty() && range->back() == '-') {
        startPosition_ = platform::leadingInteger(range->substr(6, range->size() - 7));
        downloadedDataSize_ = static_cast<std::uint64_t>(std::max<std::int64_t>(0, startPosition_));
      }
    }
    streams = downloadStreams_;
    if (streams.empty() && mutableData_)
      mutableData_->insert(mutableData_->end(), data.begin(), data.end());
    downloadedDataSize_ += data.size();
    std::int64_t expected = response_ ? response_->expectedContentLength() : -1;
    if (expected > 0) {
      progress = downloadProgressChangedHandlers_;
      fraction =
          static_cast<double>(downloadedDataSize_) / static_cast<double>(startPosition_ + expected);
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
    std::lock_guard lock(mutex_);
    handlers = uploadProgressChangedHandlers_;
  }
  double fraction =
      static_cast<double>(totalBytesWritten) / static_cast<double>(totalBytesExpectedToWrite);
  for (const auto& handler : handlers) handler(fraction);
}

void HttpOperation::connectionDidFinishLoading(platform::URLConnection&) {
  if (isCancelled()) return;
  setState(kStateFinished);
  closeStreams();
  int status = HTTPStatusCode();
  if (status >= 200 && status < 300) {
    {
      std::lock_guard lock(mutex_);
      cachedResponse_.reset();
    }
    notifyCache();
    operationSucceeded();
    return;
  }
  if (status == 304) {
    std::vector<VoidBlock> handlers;
    {
      std::lock_guard lock(mutex_);
      handlers = notModifiedHandlers_;
    }
    for (const auto& handler : handlers) handler();
    return;
  }
  // Every other status is a failure the caller must hear of, redirects that were not followed
  // and out-of-range codes included; the status is the error's code.
  Dictionary info;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [name, value] : response_->allHeaderFields().fields()) info[name] = value;
  }
  operationFailedWithError(Error(platform::kURLErrorDomain, status, std::move(info)));
}

void HttpOperation::connectionDidFailWithError(platform::URLConnection&, const Error& error) {
  if (isCancelled()) return;
  setState(kStateFinished);
  {
    std::lock_guard lock(mutex_);
    mutableData_.reset();
    downloadedDataSize_ = 0;
  }
  closeStreams();
  operationFailedWithError(error);
}

void HttpOperation::operationSucceeded() {
  std::vector<ResponseBlock> handlers;
  {
    std::lock_guard lock(mutex_);
    handlers = responseBlocks_;
  }
  auto me = self();
  for (const auto& handler : handlers) handler(me);
}

void HttpOperation::operationFailedWithError(const Error& error) {
  std::vector<ErrorBlock> errorHandlers;
  std::vector<ResponseErrorBlock> operationErrorHandlers;
  {
    std::lock_guard lock(mutex_);
    error_ = error;
    errorHandlers = errorBlocks_;
    operationErrorHandlers = errorBlocksType2_;
  }
  for (const auto& handler : errorHandlers) handler(error);
  auto me = self();
  for (const auto& handler : operationErrorHandlers) handler(me, error);
}

// ---- Diagnostics ----

std::string HttpOperation::curlCommandLineString() const {
  std::lock_guard lock(mutex_);
  std::string text = "curl -X " + request_.httpMethod();
  if (filesToBePosted_.empty() && dataToBePosted_.empty()) {
    for (const auto& [name, value] : request_.allHTTPHeaderFields().fields())
      text += " -H '" + name + ": " + value + "'";
  }
  text += " '" + request_.url() + "'";
  if (!isBodyMethod(request_.httpMethod())) return text;
  if (postDataEncoding_ != kPostDataEncodingTypeURL) {
    text += " -d '" + encodedPostDataString() + "'";
  } else {
    const char* option = filesToBePosted_.empty() ? "-d" : "-F";
    for (const auto& [key, value] : fieldsToBePosted_)
      text += std::string(" ") + option + " '" + key + "=" + value.stringValue() + "'";
  }
  for (const auto& file : filesToBePosted_) {
    text += " -F '" + file.at("name").stringValue() + "=@" + file.at("filepath").stringValue() +
            ";type=" + file.at("mimetype").stringValue() + "'";
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
  std::lock_guard lock(mutex_);
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
      {"stringEncoding", stringEncoding_},
      {"postDataEncoding", postDataEncoding_},
      {"uniqueId", uniqueId_},
      {"request", requestToJson(request_)},
      {"fieldsToBePosted", toJson(fieldsToBePosted_)},
      {"filesToBePosted", list(filesToBePosted_)},
      {"dataToBePosted", list(dataToBePosted_)},
      {"username", optionalText(username_)},
      {"password", optionalText(password_)},
      {"clientCertificate", optionalText(clientCertificate_)},
      {"clientCertificatePassword", optionalText(clientCertificatePassword_)},
      {"shouldContinueWithInvalidCertificate", shouldContinueWithInvalidCertificate_},
      {"localNotification", nullptr},
      {"state", static_cast<int>(kStateReady)},
      {"isCancelled", isCancelled_},
      {"mutableData",
       mutableData_ ? nlohmann::json(platform::base64Encode(*mutableData_)) : nlohmann::json()},
      {"downloadedDataSize", downloadedDataSize_},
      // Streams are live objects; a restored operation has none.
      {"downloadStreams", nlohmann::json::array()},
      {"startPosition", startPosition_},
      {"credentialPersistence", credentialPersistence_},
  };
  if (response_) {
    nlohmann::json headers = nlohmann::json::array();
    for (const auto& [name, value] : response_->allHeaderFields().fields())
      headers.push_back({name, value});
    archive["response"] = {
        {"url", response_->url()}, {"status", response_->statusCode()}, {"headers", headers}};
  } else {
    archive["response"] = nullptr;
  }
  return archive;
}

HttpOperation::Ptr HttpOperation::initWithCoder(const nlohmann::json& archive) {
  using platform::Json;
  if (!archive.is_object()) return nullptr;
  auto operation = std::make_shared<HttpOperation>();
  std::lock_guard lock(operation->mutex_);
  auto optionalText = [&](const char* key) { return Json::stringValue(archive, key); };
  auto dictionaries = [&](const char* key) {
    std::vector<Dictionary> items;
    if (auto* array = Json::arrayValue(archive, key)) {
      for (const auto& item : *array) {
        Value v = Json::toValue(item);
        if (auto* d = v.asDictionary()) items.push_back(*d);
      }
    }
    return items;
  };
  operation->stringEncoding_ = static_cast<unsigned>(
      Json::intValue(archive, "stringEncoding").value_or(kUTF8StringEncoding));
  operation->postDataEncoding_ =
      static_cast<int>(Json::intValue(archive, "postDataEncoding").value_or(0));
  operation->uniqueId_ = optionalText("uniqueId").value_or("");
  if (auto* request = Json::objectValue(archive, "request"))
    operation->request_ = requestFromJson(*request);
  if (auto* fields = Json::objectValue(archive, "fieldsToBePosted")) {
    Value value = Json::toValue(*fields);
    if (auto* d = value.asDictionary()) operation->fieldsToBePosted_ = *d;
  }
  operation->filesToBePosted_ = dictionaries("filesToBePosted");
  operation->dataToBePosted_ = dictionaries("dataToBePosted");
  // Data entries were archived as Base64 text.
  for (auto& entry : operation->dataToBePosted_) {
    if (auto* text = entry["data"].asText())
      entry["data"] = platform::base64Decode(*text).value_or(Bytes());
  }
  operation->username_ = optionalText("username");
  operation->password_ = optionalText("password");
  operation->clientCertificate_ = optionalText("clientCertificate");
  operation->clientCertificatePassword_ = optionalText("clientCertificatePassword");
  operation->shouldContinueWithInvalidCertificate_ =
      Json::boolValue(archive, "shouldContinueWithInvalidCertificate").value_or(false);
  operation->state_ = static_cast<int>(Json::intValue(archive, "state").value_or(kStateReady));
  operation->isCancelled_ = Json::boolValue(archive, "isCancelled").value_or(false);
  if (auto data = optionalText("mutableData"))
    operation->mutableData_ = platform::base64Decode(*data);
  operation->downloadedDataSize_ =
      static_cast<std::uint64_t>(Json::intValue(archive, "downloadedDataSize").value_or(0));
  operation->startPosition_ = Json::intValue(archive, "startPosition").value_or(0);
  operation->credentialPersistence_ = static_cast<unsigned>(
      Json::intValue(archive, "credentialPersistence").value_or(kPersistenceForSession));
  if (auto* response = Json::objectValue(archive, "response")) {
    platform::HeaderFields headers;
    if (auto* list = Json::arrayValue(*response, "headers")) {
      for (const auto& pair : *list) {
        if (pair.is_array() && pair.size() == 2 && pair[0].is_string() && pair[1].is_string())
          headers.set(pair[0].get<std::string>(), pair[1].get<std::string>());
      }
    }
    operation->response_ = platform::URLResponse(
        Json::stringValue(*response, "url").value_or(""),
        static_cast<int>(Json::intValue(*response, "status").value_or(0)), headers);
  }
  operation->freezable_ = !operation->uniqueId_.empty();
  if (operation->request_.httpMethod() == "GET") operation->cacheHeaders_ = Dictionary();
  return operation;
}

HttpOperation::Ptr HttpOperation::copy() const {
  auto other = newInstance();
  std::scoped_lock lock(mutex_, other->mutex_);
  other->postDataEncoding_ = postDataEncoding_;
  other->stringEncoding_ = stringEncoding_;
  other->uniqueId_ = uniqueId_;
  other->request_ = request_;
  other->response_ = response_;
  other->fieldsToBePosted_ = fieldsToBePosted_;
  other->filesToBePosted_ = filesToBePosted_;
  other->dataToBePosted_ = dataToBePosted_;
  other->username_ = username_;
  other->password_ = password_;
  other->clientCertificate_ = clientCertificate_;
  other->clientCertificatePassword_ = clientCertificatePassword_;
  other->responseBlocks_ = responseBlocks_;
  other->errorBlocks_ = errorBlocks_;
  other->errorBlocksType2_ = errorBlocksType2_;
  other->state_ = state_;
  other->isCancelled_ = isCancelled_;
  other->mutableData_ = mutableData_;
  other->downloadedDataSize_ = downloadedDataSize_;
  other->notModifiedHandlers_ = notModifiedHandlers_;
  other->uploadProgressChangedHandlers_ = uploadProgressChangedHandlers_;
  other->downloadProgressChangedHandlers_ = downloadProgressChangedHandlers_;
  other->downloadStreams_ = downloadStreams_;
  other->cachedResponse_ = cachedResponse_;
  other->cacheHandlingBlock_ = cacheHandlingBlock_;
  other->startPosition_ = startPosition_;
  other->credentialPersistence_ = credentialPersistence_;
  other->freezable_ = freezable_;
  other->cacheHeaders_ = cacheHeaders_;
  return other;
}
