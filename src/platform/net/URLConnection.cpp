#include "platform/net/URLConnection.h"

#include <curl/curl.h>
#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <map>
#include <thread>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/net/URLError.h"

namespace platform {

namespace {

int urlErrorCodeFor(CURLcode code) {
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
      return kURLErrorTimedOut;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return kURLErrorCannotFindHost;
    case CURLE_COULDNT_CONNECT:
      return kURLErrorCannotConnectToHost;
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      return kURLErrorNetworkConnectionLost;
    case CURLE_TOO_MANY_REDIRECTS:
      return kURLErrorHTTPTooManyRedirects;
    case CURLE_URL_MALFORMAT:
      return kURLErrorBadURL;
    case CURLE_UNSUPPORTED_PROTOCOL:
      return kURLErrorUnsupportedURL;
    case CURLE_PEER_FAILED_VERIFICATION:
      return kURLErrorServerCertificateUntrusted;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
      return kURLErrorSecureConnectionFailed;
    case CURLE_SSL_CERTPROBLEM:
      return kURLErrorClientCertificateRejected;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
      return kURLErrorBadServerResponse;
    case CURLE_SEND_FAIL_REWIND:
      return kURLErrorRequestBodyStreamExhausted;
    case CURLE_ABORTED_BY_CALLBACK:
      return kURLErrorCancelled;
    default:
      return kURLErrorUnknown;
  }
}

std::string trim(const std::string& s) {
  auto begin = s.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return {};
  auto end = s.find_last_not_of(" \t\r\n");
  return s.substr(begin, end - begin + 1);
}

// PEM texts of the certificate and private key in a PKCS#12 file; absent when it does not
// import.
struct PemIdentity {
  std::string certificate;
  std::string key;
};

std::string bioText(BIO* bio) {
  char* data = nullptr;
  long length = BIO_get_mem_data(bio, &data);
  return std::string(data, static_cast<std::size_t>(length));
}

std::optional<PemIdentity> importPkcs12(const ClientCertificate& identity) {
  std::FILE* file = std::fopen(identity.path.c_str(), "rb");
  if (!file) return std::nullopt;
  PKCS12* p12 = d2i_PKCS12_fp(file, nullptr);
  std::fclose(file);
  if (!p12) return std::nullopt;
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
  const char* pass = identity.password ? identity.password->c_str() : nullptr;
  int ok = PKCS12_parse(p12, pass, &key, &cert, nullptr);
  PKCS12_free(p12);
  std::optional<PemIdentity> result;
  if (ok && key && cert) {
    BIO* certBio = BIO_new(BIO_s_mem());
    BIO* keyBio = BIO_new(BIO_s_mem());
    if (PEM_write_bio_X509(certBio, cert) &&
        PEM_write_bio_PrivateKey(keyBio, key, nullptr, nullptr, 0, nullptr, nullptr)) {
      result = PemIdentity{bioText(certBio), bioText(keyBio)};
    }
    BIO_free(certBio);
    BIO_free(keyBio);
  }
  EVP_PKEY_free(key);
  X509_free(cert);
  return result;
}

bool isHttps(const std::string& url) {
  return url.size() >= 8 && equalsIgnoringCase(url.substr(0, 8), "https://");
}

}  // namespace

using Delivery = std::function<void(URLConnection&, URLConnectionDelegate&)>;

namespace {

std::atomic<std::size_t>& inFlightCount() {
  static std::atomic<std::size_t> count{0};
  return count;
}

}  // namespace

struct URLConnection::Transfer : std::enable_shared_from_this<Transfer> {
  ~Transfer() {
    markEnded();
    if (easy) curl_easy_cleanup(easy);
    curl_slist_free_all(headerList);
  }

  // Counts the transfer in flight until `markEnded`.
  void markStarted() {
    inFlightCount().fetch_add(1);
    counted = true;
  }
  // Its last delivery has run (or was skipped), or it was cancelled; the first call counts.
  void markEnded() {
    if (counted && !ended.exchange(true)) inFlightCount().fetch_sub(1);
  }

  // Queues `delivery` on the run loop; it runs only if the transfer is still not cancelled and
  // both the connection and its delegate are still there.
  void post(Delivery delivery) {
    auto self = shared_from_this();
    loop->perform([self, delivery = std::move(delivery)] {
      // Recursive: a delegate may cancel its own connection from inside a delivery.
      RecursiveMutexLock lock(self->deliveryMutex);
      if (self->cancelled) return;
      auto connection = self->connection.lock();
      auto delegate = self->delegate.lock();
      if (!connection || !delegate) return;
      delivery(*connection, *delegate);
    });
  }
  // The same for the finish or the failure; after it the transfer no longer counts in flight.
  void postLast(Delivery delivery) {
    auto self = shared_from_this();
    loop->perform([self, delivery = std::move(delivery)] {
      {
        RecursiveMutexLock lock(self->deliveryMutex);
        auto connection = self->connection.lock();
        auto delegate = self->delegate.lock();
        if (!self->cancelled && connection && delegate) delivery(*connection, *delegate);
      }
      self->markEnded();
    });
  }

  void postResponseOnce();
  void fail(int code, const std::string& reason);
  // Something moved (head, body or upload bytes): the idle limit starts afresh.
  void touch() {
    activityClock = Clock::shared();
    lastActivity = activityClock->monotonicNow();
  }
  // Whether the idle limit has run out. A transfer that lived through a change of the shared
  // clock (a test installing or removing a manual one) starts its limit again on the new one.
  bool isIdleFor(const std::shared_ptr<Clock>& clock, MonoTime now) {
    if (clock != activityClock) touch();
    return now - lastActivity >= idleLimit;
  }
  bool isPaused() EXCLUDES(bufferMutex) {
    MutexLock lock(bufferMutex);
    return paused;
  }

  // Set before the worker takes the transfer, read-only after.
  CURL* easy = nullptr;
  curl_slist* headerList = nullptr;
  URLRequest request;
  std::shared_ptr<RunLoop> loop;
  std::weak_ptr<URLConnection> connection;
  std::weak_ptr<URLConnectionDelegate> delegate;
  Duration idleLimit{};
  char errorText[CURL_ERROR_SIZE] = {};

  // Held while a delivery runs, and by `cancel`, so a cancel waits for a delivery in progress.
  RecursiveMutex deliveryMutex;
  std::atomic<bool> cancelled{false};
  // Set by `markStarted` before the worker takes the transfer.
  bool counted = false;
  std::atomic<bool> ended{false};

  // Owned by the curl worker thread (curl calls the callbacks there).
  HeaderFields headers;
  bool responsePosted = false;
  curl_off_t uploaded = 0;
  curl_off_t downloaded = 0;
  bool codedBody = false;
  std::uint64_t bodyBytes = 0;  // body bytes accepted, counted against the request's limit
  bool overLimit = false;
  curl_off_t streamed = 0;  // body bytes read from a body stream (chunk framing not counted)
  MonoTime lastActivity{};
  std::shared_ptr<Clock> activityClock;

  // Shared between the worker and the run loop; guarded by bufferMutex.
  Mutex bufferMutex;
  std::size_t pending GUARDED_BY(bufferMutex) = 0;
  bool paused GUARDED_BY(bufferMutex) = false;
};

namespace {

// The one multi handle of the process and the thread that drives it. Lives until the process
// ends.
class CurlWorker {
 public:
  using Transfer = URLConnection::Transfer;

  static CurlWorker& shared() {
    static CurlWorker* worker = new CurlWorker();
    return *worker;
  }

  void add(std::shared_ptr<Transfer> t) { command(Command::Add, std::move(t)); }
  void remove(std::shared_ptr<Transfer> t) { command(Command::Remove, std::move(t)); }
  void unpause(std::shared_ptr<Transfer> t) { command(Command::Unpause, std::move(t)); }

 private:
  enum class Command { Add, Remove, Unpause };
  // The longest the worker sleeps in one poll; curl's own timers and the idle limits are looked
  // at again at least this often.
  static constexpr long kMaxPollMs = 1000;

  CurlWorker() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    multi_ = curl_multi_init();
    // A manual clock that moves may push a transfer past its idle limit: look at once.
    clockWake_ = Clock::addWakeListener([multi = multi_] { curl_multi_wakeup(multi); });
    std::thread([this] { run(); }).detach();
  }

  void command(Command c, std::shared_ptr<Transfer> t) EXCLUDES(mutex_) {
    {
      MutexLock lock(mutex_);
      commands_.emplace_back(c, std::move(t));
    }
    curl_multi_wakeup(multi_);
  }

  void run() {
    for (;;) {
      runCommands();
      int running = 0;
      curl_multi_perform(multi_, &running);
      readFinished();
      expireIdleTransfers();
      curl_multi_poll(multi_, nullptr, 0, pollTimeoutMs(), nullptr);
    }
  }

  void runCommands() EXCLUDES(mutex_) {
    std::vector<std::pair<Command, std::shared_ptr<Transfer>>> commands;
    {
      MutexLock lock(mutex_);
      commands.swap(commands_);
    }
    for (auto& [c, t] : commands) {
      auto it = active_.find(t->easy);
      switch (c) {
        case Command::Add:
          if (t->cancelled || it != active_.end()) break;
          t->touch();
          curl_multi_add_handle(multi_, t->easy);
          active_[t->easy] = t;
          break;
        case Command::Remove:
          if (it == active_.end()) break;
          curl_multi_remove_handle(multi_, t->easy);
          active_.erase(it);
          break;
        case Command::Unpause:
          if (it == active_.end()) break;
          // Waiting for the run loop to catch up is not idleness.
          t->touch();
          curl_easy_pause(t->easy, CURLPAUSE_CONT);
          break;
      }
    }
  }

  void readFinished() {
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi_, &left)) {
      if (msg->msg != CURLMSG_DONE) continue;
      auto it = active_.find(msg->easy_handle);
      if (it == active_.end()) continue;
      auto t = it->second;
      CURLcode result = msg->data.result;
      curl_multi_remove_handle(multi_, t->easy);
      active_.erase(it);
      finish(*t, result);
    }
  }

  // Fails every transfer that has moved nothing for its idle limit.
  void expireIdleTransfers() {
    auto clock = Clock::shared();
    MonoTime now = clock->monotonicNow();
    for (auto it = active_.begin(); it != active_.end();) {
      auto t = it->second;
      if (t->isPaused()) t->touch();
      if (!t->isIdleFor(clock, now)) {
        ++it;
        continue;
      }
      curl_multi_remove_handle(multi_, t->easy);
      it = active_.erase(it);
      if (!t->cancelled) {
        t->fail(kURLErrorTimedOut, "nothing was received or sent for " +
                                       std::to_string(toSeconds(t->idleLimit)) + " seconds");
      }
    }
  }

  // Until the nearest idle limit runs out, at most kMaxPollMs. A manual clock answers "until
  // woken", and wakes the worker itself when it moves.
  int pollTimeoutMs() const {
    long timeout = kMaxPollMs;
    auto clock = Clock::shared();
    for (const auto& [easy, t] : active_) {
      auto wait = clock->sleepDuration(t->lastActivity + t->idleLimit);
      if (!wait) continue;
      auto ms = std::chrono::ceil<std::chrono::milliseconds>(*wait).count();
      timeout = std::clamp<long>(static_cast<long>(ms), 0, timeout);
    }
    return static_cast<int>(timeout);
  }

  static void finish(Transfer& t, CURLcode result) {
    if (t.cancelled) return;
    if (t.overLimit) {
      t.fail(
          kURLErrorDataLengthExceedsMaximum,
          "the body is longer than " + std::to_string(*t.request.maximumBodyLength()) + " bytes");
      return;
    }
    if (result != CURLE_OK) {
      std::string reason = t.errorText[0] ? t.errorText : curl_easy_strerror(result);
      if (result == CURLE_UNSUPPORTED_PROTOCOL)
        reason = "only http and https URLs are fetched (" + reason + ")";
      t.fail(urlErrorCodeFor(result), reason);
      return;
    }
    t.postResponseOnce();
    t.postLast([](URLConnection& c, URLConnectionDelegate& d) { d.connectionDidFinishLoading(c); });
  }

  Mutex mutex_;
  std::vector<std::pair<Command, std::shared_ptr<Transfer>>> commands_ GUARDED_BY(mutex_);

  // Set before the worker thread starts, read-only after.
  CURLM* multi_ = nullptr;
  std::unique_ptr<Clock::WakeToken> clockWake_;

  // Owned by the worker thread.
  std::map<CURL*, std::shared_ptr<Transfer>> active_;
};

}  // namespace

void URLConnection::Transfer::postResponseOnce() {
  if (responsePosted) return;
  responsePosted = true;
  long status = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  const char* effective = nullptr;
  curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective);
  URLResponse response(effective ? effective : request.url(), static_cast<int>(status), headers);
  post([response](URLConnection& c, URLConnectionDelegate& d) {
    d.connectionDidReceiveResponse(c, response);
  });
}

void URLConnection::Transfer::fail(int code, const std::string& reason) {
  Error error = urlError(code, request.url());
  if (!reason.empty()) error.userInfo()[kLocalizedFailureReasonKey] = reason;
  postLast([error](URLConnection& c, URLConnectionDelegate& d) {
    d.connectionDidFailWithError(c, error);
  });
}

namespace {

using Transfer = URLConnection::Transfer;

std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto& t = *static_cast<Transfer*>(user);
  std::size_t length = size * count;
  t.touch();
  std::string line(data, length);
  if (line.rfind("HTTP/", 0) == 0) {
    t.headers = HeaderFields();
    t.codedBody = false;
    return length;
  }
  auto colon = line.find(':');
  if (colon == std::string::npos || line[0] == ' ' || line[0] == '\t') return length;
  std::string name = trim(line.substr(0, colon)), value = trim(line.substr(colon + 1));
  if (equalsIgnoringCase(name, "Content-Encoding") && !equalsIgnoringCase(value, "identity"))
    t.codedBody = true;
  t.headers.add(name, value);
  return length;
}

std::size_t onWrite(char* data, std::size_t size, std::size_t count, void* user) {
  auto& t = *static_cast<Transfer*>(user);
  std::size_t length = size * count;
  if (t.cancelled) return 0;
  {
    MutexLock lock(t.bufferMutex);
    if (t.pending >= URLConnection::kMaxBufferedBytes) {
      t.paused = true;
      return CURL_WRITEFUNC_PAUSE;
    }
    t.pending += length;
  }
  if (auto limit = t.request.maximumBodyLength(); limit && length > *limit - t.bodyBytes) {
    {
      MutexLock lock(t.bufferMutex);
      t.pending -= length;
    }
    // A short count makes curl end the transfer with a write error, reported as the limit.
    t.overLimit = true;
    return 0;
  }
  t.bodyBytes += length;
  t.touch();
  t.postResponseOnce();
  Bytes chunk(data, data + length);
  std::weak_ptr<Transfer> weak = t.weak_from_this();
  t.post([weak, chunk = std::move(chunk)](URLConnection& c, URLConnectionDelegate& d) {
    auto self = weak.lock();
    if (!self) return;
    bool resume = false;
    {
      MutexLock lock(self->bufferMutex);
      self->pending -= chunk.size();
      if (self->paused && self->pending <= URLConnection::kMaxBufferedBytes / 2) {
        self->paused = false;
        resume = true;
      }
    }
    if (resume) CurlWorker::shared().unpause(self);
    d.connectionDidReceiveData(c, chunk);
  });
  return length;
}

int onProgress(void* user, curl_off_t, curl_off_t downNow, curl_off_t upTotal, curl_off_t upNow) {
  auto& t = *static_cast<Transfer*>(user);
  if (t.cancelled) return 1;
  // Received bytes count when they reach the write callback; only a coded body, whose decoder
  // may hold bytes back, counts them here as well (this report can come late, after the data).
  if (downNow > t.downloaded) {
    t.downloaded = downNow;
    if (t.codedBody) t.touch();
  }
  if (t.request.httpBodyStream()) upNow = std::min(upNow, t.streamed);
  if (upNow <= t.uploaded) return 0;
  t.touch();
  std::int64_t sent = upNow - t.uploaded;
  t.uploaded = upNow;
  std::int64_t total = upNow, expected = upTotal > 0 ? upTotal : -1;
  t.post([sent, total, expected](URLConnection& c, URLConnectionDelegate& d) {
    d.connectionDidSendBodyData(c, sent, total, expected);
  });
  return 0;
}

std::size_t onRead(char* buffer, std::size_t size, std::size_t count, void* user) {
  auto& t = *static_cast<Transfer*>(user);
  auto& stream = *t.request.httpBodyStream();
  stream.read(buffer, static_cast<std::streamsize>(size * count));
  t.streamed += stream.gcount();
  return static_cast<std::size_t>(stream.gcount());
}

void setMethodAndBody(CURL* easy, const URLRequest& request) {
  const std::string& method = request.httpMethod();
  if (method == "HEAD") {
    curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    return;
  }
  bool hasBody = request.httpBody() || request.httpBodyStream();
  bool sendsBody = hasBody || method == "POST" || method == "PUT" || method == "PATCH";
  if (!sendsBody) {
    if (method == "GET") {
      curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else {
      curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
    }
    return;
  }
  curl_easy_setopt(easy, CURLOPT_POST, 1L);
  if (request.httpBodyStream()) {
    curl_easy_setopt(easy, CURLOPT_READFUNCTION, onRead);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(-1));
  } else {
    static const Bytes kEmpty;
    const Bytes& body = request.httpBody() ? *request.httpBody() : kEmpty;
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS,
                     body.empty() ? "" : reinterpret_cast<const char*>(body.data()));
  }
  if (method != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
}

curl_slist* headerList(const URLRequest& request) {
  curl_slist* list = nullptr;
  for (const auto& [name, value] : request.allHTTPHeaderFields().fields()) {
    // "Name;" is how curl sends a header with an empty value.
    std::string line = value.empty() ? name + ";" : name + ": " + value;
    list = curl_slist_append(list, line.c_str());
  }
  // Headers curl would add on its own; an empty value suppresses them.
  for (const char* name : {"Accept", "Expect", "Content-Type"}) {
    if (!request.allHTTPHeaderFields().contains(name))
      list = curl_slist_append(list, (std::string(name) + ":").c_str());
  }
  return list;
}

}  // namespace

std::shared_ptr<URLConnection> URLConnection::make(URLRequest request,
                                                   std::weak_ptr<URLConnectionDelegate> delegate) {
  return std::shared_ptr<URLConnection>(new URLConnection(std::move(request), std::move(delegate)));
}

URLConnection::URLConnection(URLRequest request, std::weak_ptr<URLConnectionDelegate> delegate)
    : request_(std::move(request)), delegate_(std::move(delegate)) {}

URLConnection::~URLConnection() { cancel(); }

void URLConnection::scheduleInRunLoop(std::shared_ptr<RunLoop> runLoop) {
  runLoop_ = std::move(runLoop);
}

void URLConnection::start() {
  MutexLock guard(mutex_);
  if (started_) return;
  started_ = true;
  auto t = std::make_shared<Transfer>();
  t->request = request_;
  t->loop = runLoop_ ? runLoop_ : RunLoop::current();
  t->connection = weak_from_this();
  t->delegate = delegate_;
  CurlWorker::shared();  // initialises libcurl before the first easy handle
  t->easy = curl_easy_init();
  t->markStarted();
  transfer_ = t;
  CURL* easy = t->easy;
  const URLRequest& request = t->request;

  curl_easy_setopt(easy, CURLOPT_URL, request.url().c_str());
  // Only HTTP is spoken, also after a redirect: a URL from outside (a container, a page, a
  // redirect) must not make the client send raw bytes to a port through another scheme.
#if LIBCURL_VERSION_NUM >= 0x075500
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
#else
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS,
                   static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
#endif
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, t->errorText);
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 16L);
  curl_easy_setopt(easy, CURLOPT_POSTREDIR,
                   request.keepsMethodOnRedirect() ? static_cast<long>(CURL_REDIR_POST_ALL) : 0L);
  // The idle limit is the worker's own timer on the shared clock (curl's low-speed limit would
  // fail a slow trickle that keeps moving).
  double timeout =
      request.timeoutInterval() > 0 ? request.timeoutInterval() : URLRequest::kDefaultTimeout;
  // A longer limit could not be counted in nanoseconds; thirty years means "never" anyway.
  constexpr double kLongestLimit = 1e9;
  t->idleLimit = seconds(std::min(timeout, kLongestLimit));
  // Asked for and decoded, as the platform's loader does; a body the delegate sees is plain.
  curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, onHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, t.get());
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, onWrite);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, t.get());
  curl_easy_setopt(easy, CURLOPT_READDATA, t.get());
  curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, onProgress);
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, t.get());
  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  setMethodAndBody(easy, request);
  t->headerList = headerList(request);
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, t->headerList);

  bool verify = !request.allowsInvalidCertificates();
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, verify ? 1L : 0L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, verify ? 2L : 0L);
  if (const auto& credential = request.credential()) {
    curl_easy_setopt(easy, CURLOPT_USERNAME, credential->user.c_str());
    curl_easy_setopt(easy, CURLOPT_PASSWORD, credential->password.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPAUTH, CURLAUTH_ANY);
  }
  if (request.clientCertificate() && isHttps(request.url())) {
    auto identity = importPkcs12(*request.clientCertificate());
    if (!identity) {
      // The platform cancels the client-certificate challenge; the transfer then fails.
      t->fail(kURLErrorUserCancelledAuthentication, "the client certificate does not import");
      return;
    }
    curl_blob cert{identity->certificate.data(), identity->certificate.size(), CURL_BLOB_COPY};
    curl_blob key{identity->key.data(), identity->key.size(), CURL_BLOB_COPY};
    curl_easy_setopt(easy, CURLOPT_SSLCERT_BLOB, &cert);
    curl_easy_setopt(easy, CURLOPT_SSLCERTTYPE, "PEM");
    curl_easy_setopt(easy, CURLOPT_SSLKEY_BLOB, &key);
    curl_easy_setopt(easy, CURLOPT_SSLKEYTYPE, "PEM");
  }
  CurlWorker::shared().add(t);
}

void URLConnection::cancel() {
  std::shared_ptr<Transfer> t;
  {
    MutexLock guard(mutex_);
    t = transfer_;
  }
  if (!t) return;
  {
    RecursiveMutexLock lock(t->deliveryMutex);
    t->cancelled = true;
  }
  t->markEnded();
  CurlWorker::shared().remove(t);
}

std::size_t URLConnection::transfersInFlight() { return inFlightCount().load(); }

}  // namespace platform
