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
// - JSON is decoded on the high-priority global queue and handed back on the main queue.
// - Server certificates and host names are verified unless
//   `setShouldContinueWithInvalidCertificate(true)` was asked for.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/Operation.h"
#include "platform/foundation/Value.h"
#include "platform/net/OutputStream.h"
#include "platform/net/URLConnection.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"

// Header name to value, as callers hand headers to the engine and its operations.
using HeaderDictionary = std::map<std::string, std::string>;

class HttpOperation : public platform::Operation, public platform::URLConnectionDelegate {
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
    auto operation = std::make_shared<T>();
    if (!operation->initWithURLString(urlString, params, method)) return nullptr;
    return operation;
  }

  // A plain operation without request (for archiving and copying); use `make`.
  HttpOperation();
  ~HttpOperation() override;

  // Builds the request; false when no URL can be formed from the text.
  bool initWithURLString(const std::string& urlString,
                         const std::optional<platform::Dictionary>& params,
                         const std::optional<std::string>& method);

  // Request shaping.
  void addParams(const platform::Dictionary& params);
  void addHeaders(const HeaderDictionary& headers);
  void setPostDataEncoding(int encoding);
  int postDataEncoding() const;
  void setAuthorizationHeaderValue(const std::string& value, const std::string& authType);
  void setUsername(const std::string& username, const std::string& password);
  void setUsername(const std::string& username, const std::string& password, bool basicAuth);
  void setCustomPostDataEncodingHandler(EncodingBlock handler, const std::string& contentType);
  void setUploadStream(std::shared_ptr<std::istream> stream);
  void addData(const platform::Bytes& data, const std::string& key);
  void addData(const platform::Bytes& data, const std::string& key, const std::string& mimeType,
               const std::string& fileName);
  void addFile(const std::string& filePath, const std::string& key);
  void addFile(const std::string& filePath, const std::string& key, const std::string& mimeType);
  void setFreezable(bool freezable);
  bool freezable() const;

  // Handlers; each adds to its list.
  void addCompletionHandler(ResponseBlock completion, ResponseErrorBlock errorHandler);
  void onCompletion(ResponseBlock completion, ErrorBlock errorHandler);
  void onNotModified(VoidBlock handler);
  void onUploadProgressChanged(ProgressBlock handler);
  void onDownloadProgressChanged(ProgressBlock handler);
  void addDownloadStream(std::shared_ptr<platform::OutputStream> stream);
  void setCacheHandler(ResponseBlock handler);
  void setOperationStateChangedHandler(StateBlock handler);
  void setAuthHandler(AuthBlock handler);

  // Results.
  std::optional<platform::Bytes> responseData() const;
  std::optional<std::string> responseString() const;
  std::optional<std::string> responseStringWithEncoding(unsigned encoding) const;
  std::optional<nlohmann::json> responseJSON() const;
  void responseJSONWithCompletionHandler(JSONBlock handler) const;
  void responseJSONWithOptions(unsigned options, JSONBlock handler) const;
  bool isCachedResponse() const;
  std::optional<platform::Error> error() const;

  // Derived values.
  std::string url() const;
  platform::URLRequest readonlyRequest() const;
  std::optional<platform::URLResponse> readonlyResponse() const;
  platform::Dictionary readonlyPostDictionary() const;
  std::string HTTPMethod() const;
  int HTTPStatusCode() const;
  std::uint64_t downloadedDataSize() const;
  std::int64_t startPosition() const;
  int state() const;
  const std::string& uniqueId() const { return uniqueId_; }
  // How many completion handlers wait for the outcome (diagnostics).
  std::size_t completionHandlerCount() const;

  // Settings.
  void setStringEncoding(unsigned encoding);
  unsigned stringEncoding() const;
  bool shouldContinueWithInvalidCertificate() const;
  void setShouldContinueWithInvalidCertificate(bool value);
  void setClientCertificate(const std::string& pkcs12Path);
  void setClientCertificatePassword(const std::string& password);
  void setShouldNotCacheResponse(bool value);
  void setShouldCacheResponseEvenIfProtocolIsHTTPS(bool value);
  void setCredentialPersistence(unsigned persistence);
  void setTimeoutInterval(double seconds);

  // Operation life.
  void start() override;
  void main() override { start(); }
  void cancel() override;
  bool isConcurrent() const override { return true; }
  bool isReady() const override;
  bool isExecuting() const override;
  bool isFinished() const override;
  bool isCancelled() const override;

  // Engine hooks.
  bool isCacheable() const;
  void notifyCache();
  void setCachedData(const platform::Bytes& data);
  void updateOperationBasedOnPreviousHeaders(const platform::Dictionary& headers);
  void updateHandlersFromOperation(const HttpOperation& other);
  std::string uniqueIdentifier() const;
  bool isEqual(const HttpOperation& other) const;
  std::size_t hash() const;
  platform::Dictionary cacheHeaders() const;

  // Authentication: how a challenge is answered (first matching rule wins).
  ChallengeAnswer answerChallenge(const AuthenticationChallenge& challenge) const;

  // Diagnostics and archiving.
  std::string description() const;
  std::string curlCommandLineString() const;
  nlohmann::json encodeWithCoder();
  static Ptr initWithCoder(const nlohmann::json& archive);
  Ptr copy() const;

  // The request body: form, JSON, property list or custom text, or the multipart body when
  // files or data are added (which also sets its "Content-Type" and "Content-Length").
  platform::Bytes bodyData();
  std::string encodedPostDataString() const;

  // Cache headers of a response received at `now` (for the engine's optional cache).
  static platform::Dictionary cacheHeadersForResponse(const platform::URLResponse& response,
                                                      platform::Date now);

  // Connection delegate (main thread).
  void connectionDidReceiveResponse(platform::URLConnection&,
                                    const platform::URLResponse& response) override;
  void connectionDidReceiveData(platform::URLConnection&, const platform::Bytes& data) override;
  void connectionDidSendBodyData(platform::URLConnection&, std::int64_t bytesWritten,
                                 std::int64_t totalBytesWritten,
                                 std::int64_t totalBytesExpectedToWrite) override;
  void connectionDidFinishLoading(platform::URLConnection&) override;
  void connectionDidFailWithError(platform::URLConnection&, const platform::Error& error) override;

 protected:
  // A new empty operation of the receiver's class (for `copy` and restoring).
  virtual Ptr newInstance() const { return std::make_shared<HttpOperation>(); }
  void operationSucceeded();
  void operationFailedWithError(const platform::Error& error);
  void setState(int state);

 private:
  Ptr self() const;
  std::string charsetName() const;
  void startConnection();
  void closeStreams();
  platform::Bytes multipartBody();

  mutable std::recursive_mutex mutex_;
  int state_ = 0;
  bool freezable_ = false;
  int postDataEncoding_ = kPostDataEncodingTypeURL;
  std::string uniqueId_;
  std::shared_ptr<platform::URLConnection> connection_;
  std::vector<VoidBlock> notModifiedHandlers_;
  std::optional<platform::URLResponse> response_;
  std::optional<std::string> username_;
  ResponseBlock cacheHandlingBlock_;
  EncodingBlock postDataEncodingHandler_;
  std::optional<platform::Bytes> mutableData_;
  std::int64_t startPosition_ = 0;
  std::vector<ErrorBlock> errorBlocks_;
  std::optional<platform::Bytes> cachedResponse_;
  unsigned stringEncoding_ = kUTF8StringEncoding;
  bool shouldContinueWithInvalidCertificate_ = false;
  platform::URLRequest request_;
  std::vector<ResponseErrorBlock> errorBlocksType2_;
  unsigned credentialPersistence_ = kPersistenceForSession;
  std::vector<std::shared_ptr<platform::OutputStream>> downloadStreams_;
  std::optional<platform::Dictionary> cacheHeaders_;
  bool isCancelled_ = false;
  std::vector<platform::Dictionary> dataToBePosted_;
  AuthBlock authHandler_;
  std::optional<platform::Error> error_;
  std::vector<ProgressBlock> uploadProgressChangedHandlers_;
  std::vector<ResponseBlock> responseBlocks_;
  StateBlock operationStateChangedHandler_;
  std::vector<ProgressBlock> downloadProgressChangedHandlers_;
  std::optional<std::string> password_;
  platform::Dictionary fieldsToBePosted_;
  std::optional<std::string> clientCertificate_;
  bool shouldNotCacheResponse_ = false;
  std::vector<platform::Dictionary> filesToBePosted_;
  std::uint64_t downloadedDataSize_ = 0;
  std::optional<std::string> clientCertificatePassword_;
  bool shouldCacheResponseEvenIfProtocolIsHTTPS_ = false;
};
