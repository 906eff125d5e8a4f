#pragma once
// FakeCourseServer: a small course server on loopback, for tests and for scripted runs of the
// application. It answers the course API ("/api/<request>") from JSON files under
// <fixtures>/courseapi, serves lecture media ("/media/<path>") from <fixtures>/lectures with byte
// ranges, answers the store lookup ("/lookup"), collects usage-analytics hits ("/collect", by GET
// or as a POST body of one hit per line), and records every request it receives.
//
// It keeps a ledger, as the real server does: the minutes of every study-log upload it accepts
// are added, per learner and lecture, to the lectures (and their classes) of its later course
// answers, never beyond a lecture's total. Answers set with `setAnswer` or failed with
// `failPath` are not processed, so they credit nothing.
//
// In JSON answers the text "${BASE}" stands for the server's own base URL, so fixtures can point
// lectures at the server whatever port it got. Tests can replace answers and inject faults: a
// path that fails with a status, a server that ignores "Range", a response cut off after some
// bytes, and a response held after some bytes until released.
//
// All operations are thread-safe; the server answers on its own threads.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace fakeserver {

struct RecordedRequest {
  std::string method;
  std::string path;
  std::string query;  // the raw query text, without "?"
  std::vector<std::pair<std::string, std::string>> headers;
  std::map<std::string, std::string> queryParams;  // decoded query fields
  std::map<std::string, std::string> formParams;   // decoded form fields of the body
  std::string body;
  int remotePort = 0;  // tells connections apart

  bool hasHeader(const std::string& name) const;
  // The first value of a header (names compare without case), or "".
  std::string header(const std::string& name) const;
  // A query field, else a form field, else "".
  std::string param(const std::string& name) const;
};

class FakeCourseServer {
 public:
  // The fixtures folder of the source tree.
  static std::string defaultFixturesDir();

  explicit FakeCourseServer(std::string fixturesDir = defaultFixturesDir());
  ~FakeCourseServer();
  FakeCourseServer(const FakeCourseServer&) = delete;
  FakeCourseServer& operator=(const FakeCourseServer&) = delete;

  // Binds `host`:`port` (0 asks the kernel for a free port) and serves on background threads.
  // False when the address cannot be bound or the server already runs.
  bool start(const std::string& host = "127.0.0.1", int port = 0);
  // Releases held responses, stops listening and waits for the serving threads.
  void stop();
  // Whether clients may keep a connection for further requests; call before `start`. Off by
  // default: every answer then says "Connection: close", so no client ever reuses a connection
  // the server is closing and `stop` finds no idle connection to wait for. A benchmark that
  // measures connection reuse turns it on (`stop` may then wait for idle connections to time
  // out).
  void setConnectionReuse(bool reuse) { connectionReuse_ = reuse; }

  int port() const { return port_; }
  const std::string& host() const { return host_; }
  // "http://<host>:<port>"
  std::string baseUrl() const;
  // "<host>:<port>": the course API host (requests go to "<apiHost>/api/...").
  std::string apiHost() const;
  // The URL of a media file: baseUrl + "/media/" + relative.
  std::string mediaUrl(const std::string& relative) const;
  // The fixture file `relative` under the fixtures folder.
  std::string fixturePath(const std::string& relative) const;
  // Media are served from this folder (default <fixtures>/lectures).
  void setMediaRoot(const std::string& folder);

  std::vector<RecordedRequest> requests() const;
  // Requests whose path is `path`, in arrival order.
  std::vector<RecordedRequest> requestsTo(const std::string& path) const;
  void clearRequests();
  // The analytics hits received on "/collect", oldest first, each as its decoded fields.
  std::vector<std::map<std::string, std::string>> collectedHits() const;

  // Answers `path` (for example "/api/getRetrainAreas.html") with `status` and `body` instead
  // of its fixture.
  void setAnswer(const std::string& path, int status, std::string body);
  // Answers the course list from `body` instead of its fixture, the ledger's credits added
  // ("${BASE}" replaced as in fixtures).
  void setCourseList(std::string body);
  // The minutes the ledger credited learner `userId` for lecture `cwId`.
  int creditedMinutes(long long userId, long long cwId) const;
  // The next request of the API `path` is processed (an upload credited), then its connection
  // is closed before the answer's body: an answer lost on the way back.
  void loseAnswerAfterProcessing(const std::string& path);
  // Requests of the API `path` are processed, then wait to be answered until `releaseHolds()`
  // (a slow server; `waitForHold` tells when one waits).
  void holdAnswers(const std::string& path);
  // The next request of `path` alone is answered `status` and `body`; later ones as before.
  void answerNext(const std::string& path, int status, std::string body);
  // Every request of `path` (API or media) answers `status` with a short text body.
  void failPath(const std::string& path, int status);
  // Media requests are answered whole (200) whatever their "Range".
  void setIgnoreRange(bool ignore);
  // Media responses of `path` carry at most `bytes` body bytes each, as a 206 whose
  // Content-Range tells which part it is (a server that hands out a large file in parts), also
  // when no range was asked for.
  void answerInParts(const std::string& path, std::size_t bytes);
  // The next media response of `path` closes the connection after `bytes` body bytes.
  void cutAfter(const std::string& path, std::size_t bytes);
  // Media responses of `path` stop after `bytes` body bytes until `releaseHolds()`.
  void holdAfter(const std::string& path, std::size_t bytes);
  // True while a response of `path` is held.
  bool isHolding(const std::string& path) const;
  // Waits (real time, at most `limit`) until a response of `path` is held; true when one is.
  bool waitForHold(const std::string& path, std::chrono::milliseconds limit);
  // Lets every held response go on and ends holding.
  void releaseHolds();

 private:
  struct Answer {
    int status;
    std::string body;
  };
  struct Limits {
    std::size_t cut = 0;
    bool hasCut = false;
    std::size_t hold = 0;
    bool hasHold = false;
  };

  void installRoutes();
  void record(const httplib::Request& req);
  void serveApi(const httplib::Request& req, httplib::Response& res);
  void serveLookup(const httplib::Request& req, httplib::Response& res);
  void serveCollect(const httplib::Request& req, httplib::Response& res);
  void serveMedia(const httplib::Request& req, httplib::Response& res);
  bool answerOverride(const std::string& path, httplib::Response& res);
  void serveFixture(const std::string& file, httplib::Response& res);
  // The ledger: what an accepted upload credits, and the course answer it shows in.
  void creditUpload(const httplib::Request& req);
  std::string courseAnswer(const httplib::Request& req, const std::string& fixture);
  Limits takeLimits(const std::string& path);
  bool waitWhileHeld(const std::string& path);

  std::string fixturesDir_;
  std::string mediaRoot_;
  std::string host_;
  int port_ = 0;
  bool connectionReuse_ = false;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<RecordedRequest> requests_;
  std::vector<std::map<std::string, std::string>> hits_;
  std::map<std::string, Answer> answers_;
  std::map<std::string, Answer> nextAnswers_;
  std::map<std::string, int> failures_;
  std::map<std::string, std::size_t> cuts_;
  std::map<std::string, std::size_t> holds_;
  std::map<std::string, std::size_t> parts_;
  std::multiset<std::string> holding_;
  // Learner id to lecture id to credited minutes.
  std::map<long long, std::map<long long, int>> ledger_;
  std::set<std::string> losing_;
  std::optional<std::string> courseList_;
  bool ignoreRange_ = false;
  bool stopping_ = false;
};

}  // namespace fakeserver
