#pragma once
// HttpOperation: one HTTP request with its callbacks, run by the engine's shared operation
// queue. When the queue starts it, it opens a URL connection scheduled on the main run loop,
// keeps the response in memory or writes it to download streams, classifies the status and
// calls its completion, not-modified or error handlers on the main thread, in the order they
// were added.
//
// Promises:
// - Exactly one outcome per run: completion handlers (2xx), not-modified handlers (304), or
//   error handlers (transport failure, or any other status, carried as the error's code).
// - A cancelled operation calls no handler; once `cancel()` has returned, none runs.
// - Cancel and finish exclude each other: a cancel that takes (the operation is then
//   `isCancelled()`) means no handler runs; a cancel that comes after the finish does nothing.
// - A request body that cannot be built (a multipart file part that is a folder or cannot be
//   read) fails the operation through its error handlers; nothing is sent.
// - JSON is decoded on the high-priority global queue and handed back on the main queue.
// - Server certificates and host names are verified unless
//   `setShouldContinueWithInvalidCertificate(true)` was asked for.
//
// - A started operation holds a background task of the application until it finishes, fails or
//   is cancelled, so a request survives the application going to the background; when the
//   background time runs out first, the operation is cancelled.
// - A failure while the application is in the background shows the operation's local
//   notification, or, when asked (`setShouldShowLocalNotificationOnError`), one of its own
//   that carries the error's description.
//   Both go through the installed `HttpEngineHost`; without one there is neither.
//
// The course API client uses the handlers, `responseJSONWithCompletionHandler` and
// `responseString`; the lecture downloader subclasses it. Credentials, custom, multipart and
// streamed bodies, challenges, archiving, copying, diagnostics, images and local notifications
// have no caller in the application; they are kept, tested, as the design has them. The
// pictures a response holds are decoded by the UI additions (`HttpOperationImageAdditions`),
// so the engine itself links no UI.
//
// Operations live in a shared_ptr from birth (the queue and the connection hold them): they are
// made by `make` (a subclass's own factory calls `make<Subclass>`), never constructed directly.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "httpengine/HttpEngineHost.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/LocalNotification.h"
#include "platform/foundation/Mutex.h"
#include "platform/foundation/Operation.h"
#include "platform/foundation/Value.h"
#include "platform/net/OutputStream.h"
#include "platform/net/URLConnection.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"

// Header name to value, as callers hand headers to the engine and its operations.
using HeaderDictionary = std::map<std::string, std::string>;

class HttpOperation : public platform::Operation, public platform::URLConnectionDelegate {
 protected:
  // The pass key of the constructor: only `make` and `makeEmpty` can make one, so an operation
  // always lives in a shared_ptr (one allocation, on the hot path of every request).
  class Tag {
    Tag() = default;
    friend class HttpOperation;
  };

 public:
  enum State { kStateReady = 1, kStateExecuting = 2, kStateFinished = 3 };
  enum PostDataEncoding {
    kPostDataEncodingTypeURL = 0,
    kPostDataEncodingTypeJSON = 1,
    kPostDataEncodingTypePlist = 2,
    kPostDataEncodingTypeCustom = 3,
  };
  // The platform's string encodings the operation can name and decode.
  enum StringEncoding : unsigned {
    kASCIIStringEncoding = 1,
    kUTF8StringEncoding = 4,
    kISOLatin1StringEncoding = 5
  };
  enum CredentialPersistence : unsigned {
    kPersistenceNone = 0,
    kPersistenceForSession = 1,
    kPersistencePermanent = 2
  };

  using Ptr = std::shared_ptr<HttpOperation>;
  using ResponseBlock = std::function<void(const Ptr&)>;
  using ErrorBlock = std::function<void(const platform::Error&)>;
  using ResponseErrorBlock = std::function<void(const Ptr&, const platform::Error&)>;
  using VoidBlock = std::function<void()>;
  using ProgressBlock = std::function<void(double)>;
  using StateBlock = std::function<void(int)>;
  using EncodingBlock = std::function<std::string(const platform::Dictionary&)>;
  using JSONBlock = std::function<void(const std::optional<nlohmann::json>&)>;

  // An authentication challenge as the connection meets it, and the answer to it.
  struct AuthenticationChallenge {
    std::string authenticationMethod;  // one of the kAuthenticationMethod... texts
    int previousFailureCount = 0;
    // For server trust: the evaluation result.
    enum class TrustResult {
      Proceed,
      Unspecified,
      RecoverableTrustFailure,
      Deny,
      FatalTrustFailure
    };
    TrustResult trustResult = TrustResult::Unspecified;
  };
  enum class ChallengeAnswer { UseCredential, ContinueWithoutCredential, Cancel, Handled };
  using AuthBlock = std::function<void(const AuthenticationChallenge&)>;
  static constexpr const char* kAuthenticationMethodDefault = "NSURLAuthenticationMethodDefault";
  static constexpr const char* kAuthenticationMethodHTTPBasic =
      "NSURLAuthenticationMethodHTTPBasic";
  static constexpr const char* kAuthenticationMethodHTTPDigest =
      "NSURLAuthenticationMethodHTTPDigest";
  static constexpr const char* kAuthenticationMethodNTLM = "NSURLAuthenticationMethodNTLM";
  static constexpr const char* kAuthenticationMethodClientCertificate =
      "NSURLAuthenticationMethodClientCertificate";
  static constexpr const char* kAuthenticationMethodServerTrust =
      "NSURLAuthenticationMethodServerTrust";

  static constexpr double kRequestTimeout = 35.0;
  static constexpr const char* kBoundary = "0xKhTmLbOuNdArY";

  // An operation for `urlString`; null when no URL can be formed from the text. A null method
  // is "GET".
  template <class T = HttpOperation>
  static std::shared_ptr<T> make(const std::string& urlString,
                                 const std::optional<platform::Dictionary>& params = std::nullopt,
                                 const std::optional<std::string>& method = std::nullopt) {
    auto operation = makeEmpty<T>();
    if (!operation->initWithURLString(urlString, params, method)) return nullptr;
    return operation;
  }

  // A plain operation without request; only `make` and `makeEmpty` can call it. Subclasses
  // inherit it (`using HttpOperation::HttpOperation;`).
  explicit HttpOperation(Tag);
  ~HttpOperation() override;
  HttpOperation(const HttpOperation&) = delete;
  HttpOperation& operator=(const HttpOperation&) = delete;

  // Request shaping.
  void addParams(const platform::Dictionary& params) EXCLUDES(mutex_);
  void addHeaders(const HeaderDictionary& headers) EXCLUDES(mutex_);
  void setPostDataEncoding(int encoding) EXCLUDES(mutex_);
  int postDataEncoding() const EXCLUDES(mutex_);
  void setAuthorizationHeaderValue(const std::string& value, const std::string& authType)
      EXCLUDES(mutex_);
  void setUsername(const std::string& username, const std::string& password) EXCLUDES(mutex_);
  void setUsername(const std::string& username, const std::string& password, bool basicAuth)
      EXCLUDES(mutex_);
  void setCustomPostDataEncodingHandler(EncodingBlock handler, const std::string& contentType)
      EXCLUDES(mutex_);
  void setUploadStream(std::shared_ptr<std::istream> stream) EXCLUDES(mutex_);
  void addData(const platform::Bytes& data, const std::string& key);
  void addData(const platform::Bytes& data, const std::string& key, const std::string& mimeType,
               const std::string& fileName) EXCLUDES(mutex_);
  void addFile(const std::string& filePath, const std::string& key);
  void addFile(const std::string& filePath, const std::string& key, const std::string& mimeType)
      EXCLUDES(mutex_);
  void setFreezable(bool freezable) EXCLUDES(mutex_);
  bool freezable() const EXCLUDES(mutex_);

  // Handlers; each adds to its list.
  void addCompletionHandler(ResponseBlock completion, ResponseErrorBlock errorHandler)
      EXCLUDES(mutex_);
  void onCompletion(ResponseBlock completion, ErrorBlock errorHandler) EXCLUDES(mutex_);
  void onNotModified(VoidBlock handler) EXCLUDES(mutex_);
  void onUploadProgressChanged(ProgressBlock handler) EXCLUDES(mutex_);
  void onDownloadProgressChanged(ProgressBlock handler) EXCLUDES(mutex_);
  void addDownloadStream(std::shared_ptr<platform::OutputStream> stream) EXCLUDES(mutex_);
  void setCacheHandler(ResponseBlock handler) EXCLUDES(mutex_);
  void setOperationStateChangedHandler(StateBlock handler) EXCLUDES(mutex_);
  void setAuthHandler(AuthBlock handler) EXCLUDES(mutex_);

  // Results.
  std::optional<platform::Bytes> responseData() const EXCLUDES(mutex_);
  std::optional<std::string> responseString() const;
  std::optional<std::string> responseStringWithEncoding(unsigned encoding) const;
  std::optional<nlohmann::json> responseJSON() const;
  void responseJSONWithCompletionHandler(JSONBlock handler) const;
  void responseJSONWithOptions(unsigned options, JSONBlock handler) const;
  bool isCachedResponse() const EXCLUDES(mutex_);
  std::optional<platform::Error> error() const EXCLUDES(mutex_);

  // Derived values.
  std::string url() const EXCLUDES(mutex_);
  platform::URLRequest readonlyRequest() const EXCLUDES(mutex_);
  std::optional<platform::URLResponse> readonlyResponse() const EXCLUDES(mutex_);
  platform::Dictionary readonlyPostDictionary() const EXCLUDES(mutex_);
  std::string HTTPMethod() const EXCLUDES(mutex_);
  int HTTPStatusCode() const EXCLUDES(mutex_);
  std::uint64_t downloadedDataSize() const EXCLUDES(mutex_);
  std::int64_t startPosition() const EXCLUDES(mutex_);
  int state() const EXCLUDES(mutex_);
  std::string uniqueId() const EXCLUDES(mutex_);
  // How many completion handlers wait for the outcome (diagnostics).
  std::size_t completionHandlerCount() const EXCLUDES(mutex_);

  // Settings.
  void setStringEncoding(unsigned encoding) EXCLUDES(mutex_);
  unsigned stringEncoding() const EXCLUDES(mutex_);
  bool shouldContinueWithInvalidCertificate() const EXCLUDES(mutex_);
  void setShouldContinueWithInvalidCertificate(bool value) EXCLUDES(mutex_);
  void setClientCertificate(const std::string& pkcs12Path) EXCLUDES(mutex_);
  void setClientCertificatePassword(const std::string& password) EXCLUDES(mutex_);
  void setShouldNotCacheResponse(bool value) EXCLUDES(mutex_);
  void setShouldCacheResponseEvenIfProtocolIsHTTPS(bool value) EXCLUDES(mutex_);
  // Kept as the design has it; the application never answers challenges with credentials.
  void setCredentialPersistence(unsigned persistence) EXCLUDES(mutex_);
  void setTimeoutInterval(double seconds) EXCLUDES(mutex_);
  // Shown when the operation fails while the application is in the background.
  void setLocalNotification(std::optional<platform::LocalNotification> notification)
      EXCLUDES(mutex_);
  std::optional<platform::LocalNotification> localNotification() const EXCLUDES(mutex_);
  // Without a notification of its own, a failure in the background then shows one with the
  // error's description.
  void setShouldShowLocalNotificationOnError(bool value) EXCLUDES(mutex_);
  // The application's background task the operation holds; kBackgroundTaskInvalid when none.
  HttpEngineHost::BackgroundTaskIdentifier backgroundTaskId() const EXCLUDES(mutex_);

  // Operation life.
  void start() override EXCLUDES(mutex_);
  void main() override { start(); }
  void cancel() override EXCLUDES(mutex_);
  bool isConcurrent() const override { return true; }
  bool isReady() const override;
  bool isExecuting() const override;
  bool isFinished() const override;
  bool isCancelled() const override EXCLUDES(mutex_);

  // Engine hooks: the engine's cache and merging call these (`notifyCache` runs on success).
  // Freezing calls `cancelUnlessSent`: it cancels unless the request has gone out, and says
  // whether the cancel took. A request that went out may have reached the server already, so
  // it is never frozen to be sent again.
  bool cancelUnlessSent() EXCLUDES(mutex_);
  bool isCacheable() const EXCLUDES(mutex_);
  void notifyCache() EXCLUDES(mutex_);
  void setCachedData(const platform::Bytes& data) EXCLUDES(mutex_);
  void updateOperationBasedOnPreviousHeaders(const platform::Dictionary& headers) EXCLUDES(mutex_);
  void updateHandlersFromOperation(const HttpOperation& other) EXCLUDES(mutex_);
  std::string uniqueIdentifier() const EXCLUDES(mutex_);
  bool isEqual(const HttpOperation& other) const;
  std::size_t hash() const;
  platform::Dictionary cacheHeaders() const EXCLUDES(mutex_);

  // Authentication: how a challenge is answered (first matching rule wins).
  ChallengeAnswer answerChallenge(const AuthenticationChallenge& challenge) const EXCLUDES(mutex_);

  // Diagnostics and archiving.
  std::string description() const;
  std::string curlCommandLineString() const EXCLUDES(mutex_);
  nlohmann::json encodeWithCoder() EXCLUDES(mutex_);
  // The operation an archive describes, or null when the archive cannot be sent as it stands:
  // no request with a usable URL, or a data or file entry without its texts (`failure`, when
  // given, then says why). A restored operation has no handlers.
  static Ptr initWithCoder(const nlohmann::json& archive, std::string* failure = nullptr);
  Ptr copy() const EXCLUDES(mutex_);

  // The request body: form, JSON, property list or custom text, or the multipart body when
  // files or data are added (which also sets its "Content-Type" and "Content-Length"). Absent,
  // with `error` set when given, when a file part is missing, a folder or unreadable.
  std::optional<platform::Bytes> bodyData(platform::Error* error = nullptr) EXCLUDES(mutex_);
  std::string encodedPostDataString() const EXCLUDES(mutex_);

  // Cache headers of a response received at `now` (for the engine's optional cache).
  static platform::Dictionary cacheHeadersForResponse(const platform::URLResponse& response,
                                                      platform::Date now);

  // Connection delegate (main thread).
  void connectionDidReceiveResponse(platform::URLConnection&,
                                    const platform::URLResponse& response) override
      EXCLUDES(mutex_);
  void connectionDidReceiveData(platform::URLConnection&, const platform::Bytes& data) override
      EXCLUDES(mutex_);
  void connectionDidSendBodyData(platform::URLConnection&, std::int64_t bytesWritten,
                                 std::int64_t totalBytesWritten,
                                 std::int64_t totalBytesExpectedToWrite) override EXCLUDES(mutex_);
  void connectionDidFinishLoading(platform::URLConnection&) override EXCLUDES(mutex_);
  void connectionDidFailWithError(platform::URLConnection&, const platform::Error& error) override
      EXCLUDES(mutex_);

 protected:
  // A new plain operation of class T, for a subclass's `newInstance`.
  template <class T>
  static std::shared_ptr<T> makeEmpty() {
    return std::make_shared<T>(Tag());
  }
  // Builds the request; false when no URL can be formed from the text.
  bool initWithURLString(const std::string& urlString,
                         const std::optional<platform::Dictionary>& params,
                         const std::optional<std::string>& method) EXCLUDES(mutex_);
  // A new empty operation of the receiver's class (for `copy` and restoring).
  virtual Ptr newInstance() const { return makeEmpty<HttpOperation>(); }
  // Whether the body is kept in memory (and so held to the connection's body limit); a
  // subclass that writes it away as it arrives answers false.
  virtual bool keepsBodyInMemory() const { return true; }
  void operationSucceeded() EXCLUDES(mutex_);
  void operationFailedWithError(const platform::Error& error) EXCLUDES(mutex_);
  void setState(int state) EXCLUDES(mutex_);
  // Marks the operation finished unless a cancel took first (or it is finished already); true
  // when it did, and the outcome's handlers may run.
  bool finishUnlessCancelled() EXCLUDES(mutex_);
  // Ends the background task, on the main queue (after any handler already running there).
  void endBackgroundTask() EXCLUDES(mutex_);

 private:
  Ptr self() const;
  std::string charsetName() const REQUIRES(mutex_);
  void setPostDataEncodingLocked(int encoding) REQUIRES(mutex_);
  void startConnection() EXCLUDES(mutex_);
  // Ends an operation whose request body could not be built (main thread).
  void failBeforeSending(const platform::Error& error) EXCLUDES(mutex_);
  void closeStreams() EXCLUDES(mutex_);
  void beginBackgroundTask() EXCLUDES(mutex_);
  void backgroundTaskExpired() EXCLUDES(mutex_);
  void showLocalNotification(HttpEngineHost& host, const platform::Error& error) EXCLUDES(mutex_);
  std::optional<platform::Bytes> multipartBody(platform::Error* error) EXCLUDES(mutex_);

  // One lock for the whole operation: the creator shapes it on its thread, the queue starts it
  // on one of its own, the connection reports on the main thread, and a cancel can come from
  // any of them. It is never held while a handler, a stream or the connection is called.
  mutable platform::Mutex mutex_;

  // The request, as its creator shapes it before queueing (guarded by mutex_).
  platform::URLRequest _request GUARDED_BY(mutex_);
  int _postDataEncoding GUARDED_BY(mutex_) = kPostDataEncodingTypeURL;
  EncodingBlock _postDataEncodingHandler GUARDED_BY(mutex_);
  unsigned _stringEncoding GUARDED_BY(mutex_) = kUTF8StringEncoding;
  platform::Dictionary _fieldsToBePosted GUARDED_BY(mutex_);
  std::vector<platform::Dictionary> _filesToBePosted GUARDED_BY(mutex_);
  std::vector<platform::Dictionary> _dataToBePosted GUARDED_BY(mutex_);
  bool _freezable GUARDED_BY(mutex_) = false;
  std::string _uniqueId GUARDED_BY(mutex_);
  std::optional<std::string> _username GUARDED_BY(mutex_);
  std::optional<std::string> _password GUARDED_BY(mutex_);
  std::optional<std::string> _clientCertificate GUARDED_BY(mutex_);
  std::optional<std::string> _clientCertificatePassword GUARDED_BY(mutex_);
  unsigned _credentialPersistence GUARDED_BY(mutex_) = kPersistenceForSession;
  bool _shouldContinueWithInvalidCertificate GUARDED_BY(mutex_) = false;
  bool _shouldNotCacheResponse GUARDED_BY(mutex_) = false;
  bool _shouldCacheResponseEvenIfProtocolIsHTTPS GUARDED_BY(mutex_) = false;
  std::optional<platform::LocalNotification> _localNotification GUARDED_BY(mutex_);
  bool _shouldShowLocalNotificationOnError GUARDED_BY(mutex_) = false;
  // `uniqueIdentifier` and the text it was last computed from (guarded by mutex_).
  mutable std::string identifierSource_ GUARDED_BY(mutex_);
  mutable std::string identifier_ GUARDED_BY(mutex_);

  // The callbacks: added from any thread, called on the main thread, dropped by a cancel
  // (guarded by mutex_).
  std::vector<ResponseBlock> _responseBlocks GUARDED_BY(mutex_);
  std::vector<ErrorBlock> _errorBlocks GUARDED_BY(mutex_);
  std::vector<ResponseErrorBlock> _errorBlocksType2 GUARDED_BY(mutex_);
  std::vector<VoidBlock> _notModifiedHandlers GUARDED_BY(mutex_);
  std::vector<ProgressBlock> _uploadProgressChangedHandlers GUARDED_BY(mutex_);
  std::vector<ProgressBlock> _downloadProgressChangedHandlers GUARDED_BY(mutex_);
  std::vector<std::shared_ptr<platform::OutputStream>> _downloadStreams GUARDED_BY(mutex_);
  ResponseBlock _cacheHandlingBlock GUARDED_BY(mutex_);
  AuthBlock _authHandler GUARDED_BY(mutex_);
  StateBlock _operationStateChangedHandler GUARDED_BY(mutex_);

  // The run and its outcome: written as the connection reports on the main thread, read from
  // any thread (guarded by mutex_).
  int _state GUARDED_BY(mutex_) = 0;
  bool _isCancelled GUARDED_BY(mutex_) = false;
  // The connection was started: the request may have reached the server.
  bool requestSent_ GUARDED_BY(mutex_) = false;
  // Set while `cancelUnlessSent` decides: the request must not go out meanwhile.
  bool sendingHeld_ GUARDED_BY(mutex_) = false;
  std::shared_ptr<platform::URLConnection> _connection GUARDED_BY(mutex_);
  std::optional<platform::URLResponse> _response GUARDED_BY(mutex_);
  std::optional<platform::Bytes> _mutableData GUARDED_BY(mutex_);
  std::int64_t _startPosition GUARDED_BY(mutex_) = 0;
  std::uint64_t _downloadedDataSize GUARDED_BY(mutex_) = 0;
  std::optional<platform::Dictionary> _cacheHeaders GUARDED_BY(mutex_);
  std::optional<platform::Bytes> _cachedResponse GUARDED_BY(mutex_);
  std::optional<platform::Error> _error GUARDED_BY(mutex_);
  HttpEngineHost::BackgroundTaskIdentifier _backgroundTaskId GUARDED_BY(mutex_) =
      HttpEngineHost::kBackgroundTaskInvalid;
};
