#pragma once
// NetworkEngine: the client of the course API ("http://<API host>/api/<request>"). It logs a
// learner in, fetches the region tree and a learner's courses, uploads the locally recorded
// study time, sends feedback and fetches a lecture's playlist text. Every request is one engine
// operation; its completion and error callbacks run on the main thread, and the error callback
// gets the failed operation's error unchanged (the HTTP status as code for 4xx/5xx answers).
//
// The screens call the requests: login (login screen), the region tree (area screen), the
// courses (my courses and study records), the upload (study records), feedback (feedback screen);
// the lecture file list fetches playlists.
//
// Promises beyond the plain requests:
// - The region list reaches the caller before the stored region table is rewritten, and an
//   answer that does not decode leaves the stored regions alone.
// - A study-log upload is one StudyBatch (studytime): the engine fetches the learner's course
//   tree, resolves a batch left in doubt against it, marks the rows it sends with the tree's
//   minutes, and reads the answer as accepted, refused or in doubt (UploadOutcome). Only one
//   upload runs at a time. An accepted batch whose settlement cannot be written (the device is
//   full) waits (WaitingSettlement); its rows stay marked, so no credited second is sent again,
//   also after the process ended.
// - A request whose URL cannot be formed fails through its error callback (kURLErrorBadURL).
// - Answers are read defensively: a feedback answer whose "resultCode" cannot be taken over (nested
//   beyond what is read) gives an empty dictionary, as an answer without one does.
//
// Called on the main thread only (checked in debug builds).

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "dao/DBService.h"
#include "httpengine/HttpEngine.h"
#include "model/Area.h"
#include "model/Course.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"
#include "studytime/StudyBatch.h"
#include "studytime/UploadOutcome.h"

class NetworkEngine : public HttpEngine {
  CH_SHARED_OBJECT(NetworkEngine)

 public:
  using ErrorHandler = std::function<void(const platform::Error&)>;
  using TextHandler = std::function<void(const std::string&)>;
  using OptionalTextHandler = std::function<void(const std::optional<std::string>&)>;
  using AreasHandler = std::function<void(const model::List<Area>&)>;
  using CoursesHandler = std::function<void(const model::List<Course>&)>;
  using DictionaryHandler = std::function<void(const platform::Dictionary&)>;

  // The error domain and code of a refused second upload.
  static constexpr const char* kErrorDomain = "NetworkEngineErrorDomain";
  static constexpr int kUploadInProgress = 1;
  // The server accepted an upload whose settlement cannot be written on the device (no room):
  // given for that upload and for every later one, which sends nothing, until it is written.
  static constexpr int kStudyTimeNotWritten = 2;
  // The server answered the upload and credited nothing (another status, an HTML page,
  // another "resultCode"): the rows stay on the device for the next upload.
  static constexpr int kUploadRefused = 3;
  // An answer of no known form, or a batch in doubt whose lectures the course tree does not
  // show: the rows stay marked until a course tree tells whether the server credited them.
  static constexpr int kUploadInDoubt = 4;
  // The course tree fetched before an upload holds no course.
  static constexpr int kCourseTreeUnreadable = 5;

  // The engine on the configured course API host (ServerConfig), with a new store service.
  static std::shared_ptr<NetworkEngine> initWithDefaultSettings();

  // POST "getRetrainUserId.html" with the form fields; the completion gets "<userId>,<mCodeFlag>"
  // (an absent value is written "(null)").
  HttpOperation::Ptr login(const platform::Dictionary& params, TextHandler completionHandler,
                           ErrorHandler errorHandler);
  // GET "getRetrainAreas.html": the top-level regions of the answer.
  HttpOperation::Ptr getAllAreas(AreasHandler completionHandler, ErrorHandler errorHandler);
  // GET "getRetrainCourseDatas.html" with "userId": the courses of the answer's "courses". An
  // answer that does not decode or has no "courses" list is a failed fetch
  // (kURLErrorBadServerResponse); an empty list is an answer.
  HttpOperation::Ptr getRetrainCourseDatas(const std::string& userId,
                                           CoursesHandler completionHandler,
                                           ErrorHandler errorHandler);
  // GET "acceptRetrainStudyLog.html" with "studyLogs" = the upload document of the marked batch,
  // after the course tree it is marked with. Without rows the completion runs at once with
  // nothing and no request is sent (null is returned; otherwise the tree's fetch). The
  // completion runs once an accepted upload is settled on the device. Errors: the tree's fetch
  // failed (its error, or kCourseTreeUnreadable), kStudyTimeNotWritten (the batch cannot be
  // marked or settled), kUploadRefused, kUploadInDoubt (a batch in doubt the tree cannot
  // decide is sent with nothing else), or the transfer's own error when no answer came.
  HttpOperation::Ptr syncStudyLog(const std::string& userId, OptionalTextHandler completionHandler,
                                  ErrorHandler errorHandler);
  // GET of a full URL: the playlist text (nothing when it is not text).
  HttpOperation::Ptr getM3u8(const std::string& url, OptionalTextHandler completionHandler,
                             ErrorHandler errorHandler);
  // POST "saveRetrainServiceFeedback.html": {"resultCode": the answer's "resultCode"}, or an
  // empty dictionary when the answer has none.
  HttpOperation::Ptr getMessage(const std::string& userId, const std::string& message,
                                DictionaryHandler completionHandler, ErrorHandler errorHandler);

  // A debugging text of a dictionary. No screen calls it; kept, tested, as the design has it.
  static std::string stringFormDict(const platform::Dictionary& dictionary);
  // Unless `path` is the login request, gives `operation` a completion that hands the callback
  // the login-style text of its answer, and an error handler that does nothing. No screen calls
  // it; kept, tested, as the design has it.
  void compeleteHandler(const std::string& path, const HttpOperation::Ptr& operation,
                        TextHandler completionHandler);

  // How the answers are read (shared by the requests above; outside input, never trusted):
  // the login text "<userId>,<mCodeFlag>" ("(null)" for an absent value), and the feedback
  // result {"resultCode": ...} (empty when the answer has none or it cannot be taken over).
  // The user id in it is "(null)" unless the answer's "userId" is a JSON integer or a text that
  // is wholly a decimal integer (wholeInteger), within `int`.
  static std::string loginText(const std::optional<nlohmann::json>& answer);
  // The value of a text that is wholly a decimal integer of at most ten digits, an optional "-"
  // before them; nothing for any other text (spaces, signs, fractions, trailing letters).
  static std::optional<std::int64_t> wholeInteger(std::string_view text);
  static platform::Dictionary feedbackResult(const std::optional<nlohmann::json>& answer);

  // Resolves every batch found marked on the device (the process ended before its outcome was
  // known) against each learner's course tree; `finished` runs when all are done. Nothing is
  // sent: what the server did not credit goes with the learner's next upload.
  void resolveMarkedBatches(std::function<void()> finished = {});

  // The study-log upload document and its minutes rule (StudyMinutes).
  static int listenedMinutes(const std::string& listenedPos);
  static nlohmann::json uploadDocument(
      const std::string& userId,
      const std::map<std::string, std::vector<platform::Dictionary>>& rows,
      const std::map<std::int64_t, std::string>& types);

  const std::shared_ptr<DBService>& dbService() const { return _dbService; }
  const std::map<std::int64_t, std::string>& types() const { return _types; }
  // The minutes of every upload the server accepted through this engine.
  std::int64_t minutesAccepted() const { return minutesAccepted_; }

 protected:
  // An engine whose host name is `hostName` (a host followed by "/api").
  explicit NetworkEngine(const std::string& hostName);

 private:
  void sendBatch(const std::string& userId, const model::List<Course>& tree,
                 OptionalTextHandler completionHandler, ErrorHandler errorHandler);
  void uploadAnswered(UploadOutcome outcome, const StudyBatch& batch,
                      const HttpOperation::Ptr& done, const OptionalTextHandler& completionHandler,
                      const ErrorHandler& errorHandler);
  HttpOperation::Ptr enqueueOrFail(const HttpOperation::Ptr& operation, const std::string& url,
                                   const ErrorHandler& errorHandler);

  std::shared_ptr<DBService> _dbService;
  std::map<std::int64_t, std::string> _types;
  // Our own. Main thread only.
  std::int64_t minutesAccepted_ = 0;
};
