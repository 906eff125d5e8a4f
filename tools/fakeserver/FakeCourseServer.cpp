#include "fakeserver/FakeCourseServer.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>

namespace fakeserver {

namespace {

constexpr std::size_t kChunk = 64 * 1024;

bool equalsNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Form and query decoding: "+" is a space, "%XY" a byte.
std::string formDecode(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < text.size() && hexDigit(text[i + 1]) >= 0 &&
               hexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

std::map<std::string, std::string> parseFields(const std::string& text) {
  std::map<std::string, std::string> fields;
  std::stringstream stream(text);
  std::string pair;
  while (std::getline(stream, pair, '&')) {
    if (pair.empty()) continue;
    auto eq = pair.find('=');
    std::string key = formDecode(pair.substr(0, eq));
    std::string value = eq == std::string::npos ? "" : formDecode(pair.substr(eq + 1));
    fields.emplace(std::move(key), std::move(value));
  }
  return fields;
}

std::optional<std::string> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
  for (auto pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + to.size()))
    text.replace(pos, from.size(), to);
  return text;
}

std::string contentTypeFor(const std::string& path) {
  static const std::map<std::string, std::string> types = {
      {"m3u8", "application/vnd.apple.mpegurl"},
      {"ts", "video/mp2t"},
      {"html", "text/html; charset=utf-8"},
      {"htm", "text/html; charset=utf-8"},
      {"js", "application/javascript"},
      {"css", "text/css"},
      {"png", "image/png"},
      {"jpg", "image/jpeg"},
      {"json", "application/json"}};
  auto dot = path.rfind('.');
  if (dot == std::string::npos) return "application/octet-stream";
  auto found = types.find(path.substr(dot + 1));
  return found == types.end() ? "application/octet-stream" : found->second;
}

// A media path may not leave the media folder.
bool isSafeRelativePath(const std::string& relative) {
  if (relative.empty() || relative.front() == '/') return false;
  std::stringstream stream(relative);
  std::string piece;
  while (std::getline(stream, piece, '/')) {
    if (piece == ".." || piece == ".") return false;
  }
  return true;
}

// "bytes=N-" or "bytes=N-M"; absent for anything else.
std::optional<std::pair<std::size_t, std::optional<std::size_t>>> parseRange(
    const std::string& header) {
  const std::string prefix = "bytes=";
  if (header.rfind(prefix, 0) != 0) return std::nullopt;
  std::string rangeText = header.substr(prefix.size());
  auto dash = rangeText.find('-');
  if (dash == std::string::npos || dash == 0) return std::nullopt;
  std::string first = rangeText.substr(0, dash), last = rangeText.substr(dash + 1);
  auto digits = [](const std::string& s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (!digits(first) || (!last.empty() && !digits(last))) return std::nullopt;
  std::optional<std::size_t> end;
  if (!last.empty()) end = std::stoull(last);
  return std::make_pair(static_cast<std::size_t>(std::stoull(first)), end);
}

}  // namespace

bool RecordedRequest::hasHeader(const std::string& name) const {
  return std::any_of(headers.begin(), headers.end(),
                     [&](const auto& h) { return equalsNoCase(h.first, name); });
}

std::string RecordedRequest::header(const std::string& name) const {
  for (const auto& [key, value] : headers)
    if (equalsNoCase(key, name)) return value;
  return "";
}

std::string RecordedRequest::param(const std::string& name) const {
  if (auto q = queryParams.find(name); q != queryParams.end()) return q->second;
  if (auto f = formParams.find(name); f != formParams.end()) return f->second;
  return "";
}

std::string FakeCourseServer::defaultFixturesDir() { return FAKESERVER_DEFAULT_FIXTURES; }

FakeCourseServer::FakeCourseServer(std::string fixturesDir)
    : fixturesDir_(std::move(fixturesDir)), mediaRoot_(fixturesDir_ + "/lectures") {}

FakeCourseServer::~FakeCourseServer() { stop(); }

bool FakeCourseServer::start(const std::string& host, int port) {
  if (server_) return false;
  server_ = std::make_unique<httplib::Server>();
  server_->set_keep_alive_max_count(100000);
  server_->set_tcp_nodelay(true);
  server_->set_keep_alive_timeout(connectionReuse_ ? 2 : 5);
  installRoutes();
  int bound = port;
  if (port == 0) {
    bound = server_->bind_to_any_port(host);
    if (bound < 0) bound = 0;
  } else if (!server_->bind_to_port(host, port)) {
    bound = 0;
  }
  if (bound <= 0) {
    server_.reset();
    return false;
  }
  host_ = host;
  port_ = bound;
  {
    std::lock_guard lock(mutex_);
    stopping_ = false;
  }
  thread_ = std::thread([server = server_.get()] { server->listen_after_bind(); });
  // The socket already queues connections; wait only so that stop() finds a running loop.
  while (!server_->is_running()) std::this_thread::yield();
  return true;
}

void FakeCourseServer::stop() {
  if (!server_) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    holds_.clear();
  }
  cv_.notify_all();
  server_->stop();
  if (thread_.joinable()) thread_.join();
  server_.reset();
}

std::string FakeCourseServer::baseUrl() const {
  return "http://" + host_ + ":" + std::to_string(port_);
}

std::string FakeCourseServer::apiHost() const { return host_ + ":" + std::to_string(port_); }

std::string FakeCourseServer::mediaUrl(const std::string& relative) const {
  return baseUrl() + "/media/" + relative;
}

std::string FakeCourseServer::fixturePath(const std::string& relative) const {
  return fixturesDir_ + "/" + relative;
}

void FakeCourseServer::setMediaRoot(const std::string& folder) {
  std::lock_guard lock(mutex_);
  mediaRoot_ = folder;
}

std::vector<RecordedRequest> FakeCourseServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::vector<RecordedRequest> FakeCourseServer::requestsTo(const std::string& path) const {
  std::lock_guard lock(mutex_);
  std::vector<RecordedRequest> matching;
  for (const auto& r : requests_)
    if (r.path == path) matching.push_back(r);
  return matching;
}

void FakeCourseServer::clearRequests() {
  std::lock_guard lock(mutex_);
  requests_.clear();
}

std::vector<std::map<std::string, std::string>> FakeCourseServer::collectedHits() const {
  std::lock_guard lock(mutex_);
  return hits_;
}

void FakeCourseServer::setAnswer(const std::string& path, int status, std::string body) {
  std::lock_guard lock(mutex_);
  answers_[path] = Answer{status, std::move(body)};
}

void FakeCourseServer::answerNext(const std::string& path, int status, std::string body) {
  std::lock_guard lock(mutex_);
  nextAnswers_[path] = Answer{status, std::move(body)};
}

void FakeCourseServer::failPath(const std::string& path, int status) {
  std::lock_guard lock(mutex_);
  failures_[path] = status;
}

void FakeCourseServer::setIgnoreRange(bool ignore) {
  std::lock_guard lock(mutex_);
  ignoreRange_ = ignore;
}

void FakeCourseServer::answerInParts(const std::string& path, std::size_t bytes) {
  std::lock_guard lock(mutex_);
  parts_[path] = bytes;
}

void FakeCourseServer::cutAfter(const std::string& path, std::size_t bytes) {
  std::lock_guard lock(mutex_);
  cuts_[path] = bytes;
}

void FakeCourseServer::holdAfter(const std::string& path, std::size_t bytes) {
  std::lock_guard lock(mutex_);
  holds_[path] = bytes;
}

bool FakeCourseServer::isHolding(const std::string& path) const {
  std::lock_guard lock(mutex_);
  return holding_.count(path) > 0;
}

bool FakeCourseServer::waitForHold(const std::string& path, std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return cv_.wait_for(lock, limit, [&] { return holding_.count(path) > 0; });
}

void FakeCourseServer::releaseHolds() {
  {
    std::lock_guard lock(mutex_);
    holds_.clear();
  }
  cv_.notify_all();
}

void FakeCourseServer::installRoutes() {
  auto api = [this](const httplib::Request& req, httplib::Response& res) {
    record(req);
    serveApi(req, res);
  };
  server_->Get("/api/.*", api);
  server_->Post("/api/.*", api);
  server_->Get("/lookup", [this](const httplib::Request& req, httplib::Response& res) {
    record(req);
    serveLookup(req, res);
  });
  auto collect = [this](const httplib::Request& req, httplib::Response& res) {
    record(req);
    serveCollect(req, res);
  };
  server_->Get("/collect", collect);
  server_->Post("/collect", collect);
  server_->Get("/media/.*", [this](const httplib::Request& req, httplib::Response& res) {
    record(req);
    serveMedia(req, res);
  });
  auto unknown = [this](const httplib::Request& req, httplib::Response& res) {
    record(req);
    res.status = 404;
    res.set_content("not found", "text/plain");
  };
  server_->Get(".*", unknown);
  server_->Post(".*", unknown);
  if (!connectionReuse_) {
    server_->set_post_routing_handler([](const httplib::Request&, httplib::Response& res) {
      res.set_header("Connection", "close");
    });
  }
}

void FakeCourseServer::record(const httplib::Request& req) {
  RecordedRequest r;
  r.method = req.method;
  r.path = req.path;
  if (auto q = req.target.find('?'); q != std::string::npos) r.query = req.target.substr(q + 1);
  for (const auto& [key, value] : req.headers) r.headers.emplace_back(key, value);
  r.queryParams = parseFields(r.query);
  r.body = req.body;
  r.remotePort = req.remote_port;
  if (req.get_header_value("Content-Type").rfind("application/x-www-form-urlencoded", 0) == 0)
    r.formParams = parseFields(req.body);
  std::lock_guard lock(mutex_);
  requests_.push_back(std::move(r));
}

bool FakeCourseServer::answerOverride(const std::string& path, httplib::Response& res) {
  std::lock_guard lock(mutex_);
  if (auto failed = failures_.find(path); failed != failures_.end()) {
    res.status = failed->second;
    res.set_content("failure " + std::to_string(failed->second), "text/plain");
    return true;
  }
  if (auto next = nextAnswers_.find(path); next != nextAnswers_.end()) {
    res.status = next->second.status;
    res.set_content(replaceAll(next->second.body, "${BASE}", baseUrl()), "application/json");
    nextAnswers_.erase(next);
    return true;
  }
  if (auto answer = answers_.find(path); answer != answers_.end()) {
    res.status = answer->second.status;
    res.set_content(replaceAll(answer->second.body, "${BASE}", baseUrl()), "application/json");
    return true;
  }
  return false;
}

void FakeCourseServer::serveFixture(const std::string& file, httplib::Response& res) {
  auto content = readFile(fixturePath(file));
  if (!content) {
    res.status = 404;
    res.set_content("no fixture " + file, "text/plain");
    return;
  }
  res.status = 200;
  res.set_content(replaceAll(*content, "${BASE}", baseUrl()), "application/json");
}

int FakeCourseServer::creditedMinutes(long long userId, long long cwId) const {
  std::lock_guard lock(mutex_);
  auto learner = ledger_.find(userId);
  if (learner == ledger_.end()) return 0;
  auto lecture = learner->second.find(cwId);
  return lecture == learner->second.end() ? 0 : lecture->second;
}

void FakeCourseServer::setCourseList(std::string body) {
  std::lock_guard lock(mutex_);
  courseList_ = std::move(body);
}

void FakeCourseServer::loseAnswerAfterProcessing(const std::string& path) {
  std::lock_guard lock(mutex_);
  losing_.insert(path);
}

void FakeCourseServer::holdAnswers(const std::string& path) {
  std::lock_guard lock(mutex_);
  holds_[path] = 0;
}

namespace {

long long numberIn(const nlohmann::json& j) {
  if (j.is_number_integer()) return j.get<long long>();
  if (j.is_string()) return std::atoll(j.get<std::string>().c_str());
  return 0;
}

}  // namespace

void FakeCourseServer::creditUpload(const httplib::Request& req) {
  std::string text = req.has_param("studyLogs") ? req.get_param_value("studyLogs") : "";
  auto document = nlohmann::json::parse(text, nullptr, false);
  if (!document.is_object() || !document.contains("logs") || !document["logs"].is_array()) return;
  const long long userId = numberIn(document.value("userId", nlohmann::json()));
  std::lock_guard lock(mutex_);
  for (const auto& year : document["logs"]) {
    if (!year.is_object() || !year.contains("cws") || !year["cws"].is_array()) continue;
    for (const auto& cw : year["cws"]) {
      if (!cw.is_object()) continue;
      ledger_[userId][numberIn(cw.value("id", nlohmann::json()))] +=
          static_cast<int>(numberIn(cw.value("listenedMinutes", nlohmann::json())));
    }
  }
}

std::string FakeCourseServer::courseAnswer(const httplib::Request& req,
                                           const std::string& fixture) {
  auto answer = nlohmann::json::parse(fixture, nullptr, false);
  if (!answer.is_object() || !answer.contains("courses") || !answer["courses"].is_array())
    return fixture;
  const long long userId = std::atoll(req.get_param_value("userId").c_str());
  std::lock_guard lock(mutex_);
  auto learner = ledger_.find(userId);
  if (learner == ledger_.end()) return fixture;
  for (auto& course : answer["courses"]) {
    if (!course.is_object() || !course.contains("reclasses")) continue;
    for (auto& rc : course["reclasses"]) {
      if (!rc.is_object() || !rc.contains("cws")) continue;
      long long added = 0;
      for (auto& cw : rc["cws"]) {
        if (!cw.is_object()) continue;
        auto credit = learner->second.find(numberIn(cw.value("cwId", nlohmann::json())));
        if (credit == learner->second.end()) continue;
        const long long before = numberIn(cw.value("listenedMinutes", nlohmann::json()));
        long long after = before + credit->second;
        if (cw.contains("totalMinutes")) after = std::min(after, numberIn(cw["totalMinutes"]));
        after = std::max(after, before);
        cw["listenedMinutes"] = after;
        added += after - before;
      }
      rc["listenedMinutes"] = numberIn(rc.value("listenedMinutes", nlohmann::json())) + added;
    }
  }
  return answer.dump();
}

void FakeCourseServer::serveApi(const httplib::Request& req, httplib::Response& res) {
  if (answerOverride(req.path, res)) return;
  if (req.path == "/api/acceptRetrainStudyLog.html") creditUpload(req);
  bool lose = false;
  bool hold = false;
  {
    std::lock_guard lock(mutex_);
    lose = losing_.erase(req.path) > 0;
    hold = holds_.count(req.path) > 0;
  }
  if (hold && !waitWhileHeld(req.path)) return;
  if (lose) {
    // The headers go out, the body never does: the client sees the connection cut.
    res.set_content_provider(64, "application/json",
                             [](std::size_t, std::size_t, httplib::DataSink&) { return false; });
    return;
  }
  if (req.path == "/api/getRetrainCourseDatas.html") {
    std::optional<std::string> content;
    {
      std::lock_guard lock(mutex_);
      content = courseList_;
    }
    if (!content) content = readFile(fixturePath("courseapi/courses.json"));
    if (!content) {
      res.status = 404;
      return;
    }
    res.status = 200;
    res.set_content(courseAnswer(req, replaceAll(*content, "${BASE}", baseUrl())),
                    "application/json");
    return;
  }
  static const std::map<std::string, std::string> fixtures = {
      {"/api/getRetrainUserId.html", "courseapi/login.json"},
      {"/api/getRetrainAreas.html", "courseapi/areas.json"},
      {"/api/getRetrainCourseDatas.html", "courseapi/courses.json"},
      {"/api/acceptRetrainStudyLog.html", "courseapi/studylog.json"},
      {"/api/saveRetrainServiceFeedback.html", "courseapi/feedback.json"}};
  auto found = fixtures.find(req.path);
  if (found == fixtures.end()) {
    res.status = 404;
    res.set_content("unknown request", "text/plain");
    return;
  }
  serveFixture(found->second, res);
}

void FakeCourseServer::serveLookup(const httplib::Request& req, httplib::Response& res) {
  if (answerOverride(req.path, res)) return;
  serveFixture("courseapi/lookup.json", res);
}

void FakeCourseServer::serveCollect(const httplib::Request& req, httplib::Response& res) {
  if (answerOverride(req.path, res)) return;
  std::vector<std::map<std::string, std::string>> received;
  if (req.method == "GET") {
    std::string query;
    if (auto q = req.target.find('?'); q != std::string::npos) query = req.target.substr(q + 1);
    received.push_back(parseFields(query));
  } else {
    // A batch carries one hit per line; a compressed body is not ours to read, so it is left out.
    if (!req.get_header_value("Content-Encoding").empty()) {
      res.status = 415;
      return;
    }
    std::stringstream lines(req.body);
    std::string line;
    while (std::getline(lines, line))
      if (!line.empty()) received.push_back(parseFields(line));
  }
  {
    std::lock_guard lock(mutex_);
    for (auto& hit : received) hits_.push_back(std::move(hit));
  }
  res.status = 200;
  res.set_content("", "image/gif");
}

FakeCourseServer::Limits FakeCourseServer::takeLimits(const std::string& path) {
  std::lock_guard lock(mutex_);
  Limits limits;
  if (auto cut = cuts_.find(path); cut != cuts_.end()) {
    limits.hasCut = true;
    limits.cut = cut->second;
    cuts_.erase(cut);
  }
  if (auto hold = holds_.find(path); hold != holds_.end()) {
    limits.hasHold = true;
    limits.hold = hold->second;
  }
  return limits;
}

bool FakeCourseServer::waitWhileHeld(const std::string& path) {
  std::unique_lock lock(mutex_);
  auto entry = holding_.insert(path);
  cv_.notify_all();
  cv_.wait(lock, [&] { return stopping_ || holds_.count(path) == 0; });
  holding_.erase(entry);
  return !stopping_;
}

void FakeCourseServer::serveMedia(const httplib::Request& req, httplib::Response& res) {
  // Ranges are answered here; the library must not slice the answer a second time.
  const_cast<httplib::Request&>(req).ranges.clear();
  if (answerOverride(req.path, res)) return;
  std::string relative = req.path.substr(std::string("/media/").size());
  std::string root;
  bool ignoreRange;
  std::size_t part = 0;
  {
    std::lock_guard lock(mutex_);
    root = mediaRoot_;
    ignoreRange = ignoreRange_;
    if (auto found = parts_.find(req.path); found != parts_.end()) part = found->second;
  }
  auto file = std::make_shared<std::ifstream>(root + "/" + relative, std::ios::binary);
  if (!isSafeRelativePath(relative) || !*file) {
    res.status = 404;
    res.set_content("no such file", "text/plain");
    return;
  }
  file->seekg(0, std::ios::end);
  const std::size_t size = static_cast<std::size_t>(file->tellg());
  std::size_t start = 0, length = size;
  res.status = 200;
  auto range = req.has_header("Range") && !ignoreRange ? parseRange(req.get_header_value("Range"))
                                                       : std::nullopt;
  if (range) {
    if (range->first >= size) {
      res.status = 416;
      res.set_header("Content-Range", "bytes */" + std::to_string(size));
      return;
    }
    start = range->first;
    length = std::min(range->second.value_or(size - 1), size - 1) - start + 1;
    res.status = 206;
  }
  if (part > 0 && length > part) {
    length = part;
    res.status = 206;
  }
  if (res.status == 206) {
    res.set_header("Content-Range", "bytes " + std::to_string(start) + "-" +
                                        std::to_string(start + length - 1) + "/" +
                                        std::to_string(size));
  }
  res.set_header("Accept-Ranges", "bytes");
  Limits limits = takeLimits(req.path);
  auto held = std::make_shared<bool>(false);
  std::string path = req.path;
  res.set_content_provider(length, contentTypeFor(relative),
                           [this, file, start, limits, held, path](
                               std::size_t offset, std::size_t available, httplib::DataSink& sink) {
                             if (limits.hasHold && !*held && offset >= limits.hold) {
                               *held = true;
                               if (!waitWhileHeld(path)) return false;
                             }
                             std::size_t end = offset + std::min(available, kChunk);
                             if (limits.hasCut) {
                               if (offset >= limits.cut) return false;
                               end = std::min(end, limits.cut);
                             }
                             if (limits.hasHold && !*held && offset < limits.hold)
                               end = std::min(end, limits.hold);
                             std::string buffer(end - offset, '\0');
                             file->seekg(static_cast<std::streamoff>(start + offset));
                             file->read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
                             if (file->gcount() != static_cast<std::streamsize>(buffer.size()))
                               return false;
                             return sink.write(buffer.data(), buffer.size());
                           });
}

}  // namespace fakeserver
