#include "net/NetworkEngine.h"

#include <atomic>
#include <limits>

#include "dao/ReClassDao.h"
#include "dao/StudyLogDao.h"
#include "net/ServerConfig.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Thread.h"
#include "platform/net/URLError.h"
#include "studytime/StudyMinutes.h"
#include "studytime/WaitingSettlement.h"

namespace {

// One upload at a time in the whole process: two uploads would both take the same seconds back.
std::atomic<bool> uploadInFlight{false};

std::string plainText(const std::optional<nlohmann::json>& answer, const char* key) {
  if (!answer) return "(null)";
  const nlohmann::json* value = platform::Json::member(*answer, key);
  if (!value) return "(null)";
  auto text = platform::Json::stringValue(*value);
  return text ? *text : "(null)";
}

// The user id of a login answer as decimal text, or "(null)". Only a JSON integer or a text that
// is wholly one, within `int`, names a user: `true`, "12abc", " 12" or "12,5" would otherwise log
// the learner in as someone else (user 1 or 12), and the comma of "12,5" would end the id early
// in the "<userId>,<mCodeFlag>" text.
std::string userIdText(const std::optional<nlohmann::json>& answer) {
  const nlohmann::json* value = answer ? platform::Json::member(*answer, "userId") : nullptr;
  if (!value) return "(null)";
  std::optional<std::int64_t> id;
  if (value->is_number_unsigned()) {
    const auto number = value->get<std::uint64_t>();
    if (number <= std::uint64_t{std::numeric_limits<int>::max()})
      id = static_cast<std::int64_t>(number);
  } else if (value->is_number_integer()) {
    id = value->get<std::int64_t>();
  } else if (value->is_string()) {
    id = NetworkEngine::wholeInteger(value->get<std::string>());
  }
  if (!id || *id < std::numeric_limits<int>::min() || *id > std::numeric_limits<int>::max())
    return "(null)";
  return std::to_string(*id);
}

const std::string& textOf(const platform::Dictionary& row, const std::string& key) {
  static const std::string empty;
  const platform::Value* value = platform::find(row, key);
  return value && value->asText() ? *value->asText() : empty;
}

platform::Error studyTimeNotWritten() {
  return platform::Error::withDescription(
      NetworkEngine::kErrorDomain, NetworkEngine::kStudyTimeNotWritten,
      "The study time could not be recorded on the device; no study log is sent until it is");
}

platform::Error engineError(int code, const char* description) {
  return platform::Error::withDescription(NetworkEngine::kErrorDomain, code, description);
}

platform::Error notACourseAnswer() {
  return platform::Error::withDescription(platform::kURLErrorDomain,
                                          platform::kURLErrorBadServerResponse,
                                          "The course answer holds no \"courses\" list");
}

}  // namespace

std::shared_ptr<NetworkEngine> NetworkEngine::initWithDefaultSettings() {
  return create(ServerConfig::apiHost() + "/api");
}

NetworkEngine::NetworkEngine(const std::string& hostName)
    : HttpEngine(hostName), _dbService(std::make_shared<DBService>()) {}

HttpOperation::Ptr NetworkEngine::enqueueOrFail(const HttpOperation::Ptr& operation,
                                                const std::string& url,
                                                const ErrorHandler& errorHandler) {
  if (!operation) {
    if (errorHandler) errorHandler(platform::urlError(platform::kURLErrorBadURL, url));
    return nullptr;
  }
  enqueueOperation(operation);
  return operation;
}

std::string NetworkEngine::loginText(const std::optional<nlohmann::json>& answer) {
  return userIdText(answer) + "," + plainText(answer, "mCodeFlag");
}

std::optional<std::int64_t> NetworkEngine::wholeInteger(std::string_view text) {
  std::size_t digits = !text.empty() && text[0] == '-' ? 1 : 0;
  // Ten digits hold every `int`; more cannot be one, and would not fit the result either.
  if (text.size() == digits || text.size() - digits > 10) return std::nullopt;
  std::int64_t magnitude = 0;
  for (std::size_t i = digits; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    magnitude = magnitude * 10 + (text[i] - '0');
  }
  return digits ? -magnitude : magnitude;
}

platform::Dictionary NetworkEngine::feedbackResult(const std::optional<nlohmann::json>& answer) {
  platform::Dictionary result;
  const nlohmann::json* code = answer ? platform::Json::member(*answer, "resultCode") : nullptr;
  if (!code || code->is_null()) return result;
  // A value the JSON reader refuses to take over (nested too deep) reads as null: no result.
  platform::Value value = platform::Json::toValue(*code);
  if (!value.isNull()) result["resultCode"] = std::move(value);
  return result;
}

HttpOperation::Ptr NetworkEngine::login(const platform::Dictionary& params,
                                        TextHandler completionHandler, ErrorHandler errorHandler) {
  platform::assertMainThread("NetworkEngine::login");
  auto operation = operationWithPath("getRetrainUserId.html", params, "POST");
  if (operation) {
    operation->addCompletionHandler(
        [completionHandler](const HttpOperation::Ptr& done) {
          done->responseJSONWithCompletionHandler(
              [completionHandler](const std::optional<nlohmann::json>& answer) {
                if (completionHandler) completionHandler(loginText(answer));
              });
        },
        [errorHandler](const HttpOperation::Ptr&, const platform::Error& error) {
          if (errorHandler) errorHandler(error);
        });
  }
  return enqueueOrFail(operation, "getRetrainUserId.html", errorHandler);
}

HttpOperation::Ptr NetworkEngine::getAllAreas(AreasHandler completionHandler,
                                              ErrorHandler errorHandler) {
  platform::assertMainThread("NetworkEngine::getAllAreas");
  auto operation = operationWithPath("getRetrainAreas.html");
  if (operation) {
    std::weak_ptr<DBService> store = _dbService;
    operation->addCompletionHandler(
        [completionHandler, store](const HttpOperation::Ptr& done) {
          // The decoding delivers later, so the caller has its list before the store changes.
          done->responseJSONWithCompletionHandler(
              [store](const std::optional<nlohmann::json>& answer) {
                auto service = store.lock();
                if (service && answer) service->refreshArea(answer);
              });
          if (completionHandler)
            completionHandler(Area::jsonToObject(done->responseString().value_or("")));
        },
        [errorHandler](const HttpOperation::Ptr&, const platform::Error& error) {
          if (errorHandler) errorHandler(error);
        });
  }
  return enqueueOrFail(operation, "getRetrainAreas.html", errorHandler);
}

HttpOperation::Ptr NetworkEngine::getRetrainCourseDatas(const std::string& userId,
                                                        CoursesHandler completionHandler,
                                                        ErrorHandler errorHandler) {
  platform::assertMainThread("NetworkEngine::getRetrainCourseDatas");
  auto operation =
      operationWithPath("getRetrainCourseDatas.html", platform::Dictionary{{"userId", userId}});
  if (operation) {
    operation->addCompletionHandler(
        [completionHandler, errorHandler](const HttpOperation::Ptr& done) {
          done->responseJSONWithCompletionHandler(
              [completionHandler, errorHandler](const std::optional<nlohmann::json>& answer) {
                const nlohmann::json* courses =
                    answer ? platform::Json::arrayValue(*answer, "courses") : nullptr;
                // A page that is not the course answer (a portal's login page, a server's
                // error text sent as 200) says nothing about the learner's courses: taken as
                // an empty list, the callers would replace the stored tree with it.
                if (!courses) {
                  if (errorHandler) errorHandler(notACourseAnswer());
                  return;
                }
                if (completionHandler) completionHandler(Course::jsonToObject(courses));
              });
        },
        [errorHandler](const HttpOperation::Ptr&, const platform::Error& error) {
          if (errorHandler) errorHandler(error);
        });
  }
  return enqueueOrFail(operation, "getRetrainCourseDatas.html", errorHandler);
}

int NetworkEngine::listenedMinutes(const std::string& listenedPos) {
  return StudyMinutes::forSeconds(listenedPos);
}

nlohmann::json NetworkEngine::uploadDocument(
    const std::string& userId, const std::map<std::string, std::vector<platform::Dictionary>>& rows,
    const std::map<std::int64_t, std::string>& types) {
  nlohmann::json logs = nlohmann::json::array();
  for (const auto& [year, yearRows] : rows) {
    nlohmann::json cws = nlohmann::json::array();
    for (const auto& row : yearRows) {
      std::int64_t cwId = platform::leadingInteger(textOf(row, "cwid"));
      auto type = types.find(cwId);
      cws.push_back({{"id", cwId},
                     {"createdTime", textOf(row, "createdTime")},
                     {"lastUpdateTime", textOf(row, "lastUpdateTime")},
                     {"listenedMinutes", listenedMinutes(textOf(row, "listenedPos"))},
                     {"type", type == types.end() ? 0 : platform::leadingInteger(type->second)}});
    }
    logs.push_back({{"year", platform::leadingInteger(year)}, {"cws", std::move(cws)}});
  }
  return {{"userId", platform::leadingInteger(userId)}, {"logs", std::move(logs)}};
}

HttpOperation::Ptr NetworkEngine::syncStudyLog(const std::string& userId,
                                               OptionalTextHandler completionHandler,
                                               ErrorHandler errorHandler) {
  platform::assertMainThread("NetworkEngine::syncStudyLog");
  // Until a waiting settlement is written, its rows hold seconds the server credited.
  if (!WaitingSettlement::shared().write()) {
    if (errorHandler) errorHandler(studyTimeNotWritten());
    return nullptr;
  }
  const platform::Value user(platform::leadingInteger(userId));
  if (StudyLogDao().getByUserId(user).empty()) {
    if (completionHandler) completionHandler(std::nullopt);
    return nullptr;
  }
  if (uploadInFlight.exchange(true)) {
    if (errorHandler)
      errorHandler(engineError(kUploadInProgress, "A study-log upload is already running"));
    return nullptr;
  }
  _types = ReClassDao().getAllCwType();
  // The tree first: it decides a batch left in doubt, and its minutes, recorded in the rows,
  // let the next one decide this batch if its answer is lost.
  std::weak_ptr<NetworkEngine> weak = std::static_pointer_cast<NetworkEngine>(shared_from_this());
  auto treeFetch = getRetrainCourseDatas(
      userId,
      [weak, userId, completionHandler, errorHandler](const model::List<Course>& tree) {
        auto engine = weak.lock();
        if (!engine) {
          uploadInFlight = false;
          return;
        }
        engine->sendBatch(userId, tree, completionHandler, errorHandler);
      },
      [errorHandler](const platform::Error& error) {
        uploadInFlight = false;
        if (errorHandler) errorHandler(error);
      });
  if (!treeFetch) uploadInFlight = false;
  return treeFetch;
}

void NetworkEngine::sendBatch(const std::string& userId, const model::List<Course>& tree,
                              OptionalTextHandler completionHandler, ErrorHandler errorHandler) {
  auto fail = [&errorHandler](const platform::Error& error) {
    uploadInFlight = false;
    if (errorHandler) errorHandler(error);
  };
  if (tree.empty())
    return fail(engineError(kCourseTreeUnreadable, "The course tree holds no course"));
  const platform::Value user(platform::leadingInteger(userId));
  // A batch in doubt is never simply sent again: what the tree shows credited is settled,
  // the rest joins the new batch.
  if (!StudyBatch::marked(user).resolve(tree)) return fail(studyTimeNotWritten());
  if (!StudyBatch::marked(user).empty())
    return fail(engineError(kUploadInDoubt,
                            "The server's course tree does not tell whether an "
                            "earlier study-log upload was credited"));
  std::optional<StudyBatch> batch = StudyBatch::mark(user, tree);
  if (!batch) return fail(studyTimeNotWritten());
  if (batch->empty()) {
    uploadInFlight = false;
    if (completionHandler) completionHandler(std::nullopt);
    return;
  }
  std::string document = uploadDocument(userId, batch->uploadRows(), _types).dump(2);
  auto operation = operationWithPath("acceptRetrainStudyLog.html",
                                     platform::Dictionary{{"studyLogs", document}});
  if (!operation) {
    batch->release();
    uploadInFlight = false;
    enqueueOrFail(operation, "acceptRetrainStudyLog.html", errorHandler);
    return;
  }
  std::weak_ptr<NetworkEngine> weak = std::static_pointer_cast<NetworkEngine>(shared_from_this());
  const StudyBatch sent = *batch;
  auto answered = [weak, sent, completionHandler, errorHandler](UploadOutcome outcome,
                                                                const HttpOperation::Ptr& done) {
    uploadInFlight = false;
    if (auto engine = weak.lock())
      engine->uploadAnswered(outcome, sent, done, completionHandler, errorHandler);
  };
  operation->addCompletionHandler(
      [answered](const HttpOperation::Ptr& done) {
        answered(UploadAnswer::read(done->HTTPStatusCode(), done->responseString()), done);
      },
      [answered](const HttpOperation::Ptr& done, const platform::Error& error) {
        // A status is the error's code; a transfer that ended without a whole answer (cut,
        // timed out) has a negative one, whatever part of an answer came.
        const bool withStatus = error.domain() == platform::kURLErrorDomain && error.code() > 0;
        answered(UploadAnswer::readFailure(withStatus ? error.code() : 0), done);
      });
  enqueueOperation(operation);
}

void NetworkEngine::uploadAnswered(UploadOutcome outcome, const StudyBatch& batch,
                                   const HttpOperation::Ptr& done,
                                   const OptionalTextHandler& completionHandler,
                                   const ErrorHandler& errorHandler) {
  switch (outcome) {
    case UploadOutcome::kAccepted:
      minutesAccepted_ += batch.totalMinutes();
      // Settled now, before anyone can read the seconds' absence from the device.
      if (!batch.settle()) {
        WaitingSettlement::shared().keep(batch);
        if (errorHandler) errorHandler(studyTimeNotWritten());
        return;
      }
      if (completionHandler) completionHandler(done->responseString());
      return;
    case UploadOutcome::kRefused:
      // Nothing credited; a release that cannot be written leaves the batch in doubt, which
      // the next tree resolves the same way.
      batch.release();
      if (errorHandler) {
        errorHandler(done->error()
                         ? *done->error()
                         : engineError(kUploadRefused, "The server refused the study-log upload"));
      }
      return;
    case UploadOutcome::kInDoubt:
      if (errorHandler) {
        errorHandler(done->error() ? *done->error()
                                   : engineError(kUploadInDoubt,
                                                 "The study-log upload's answer cannot be read"));
      }
      return;
  }
}

void NetworkEngine::resolveMarkedBatches(std::function<void()> finished) {
  platform::assertMainThread("NetworkEngine::resolveMarkedBatches");
  const auto learners = StudyBatch::learnersWithMarkedRows();
  // A sync under way resolves the batch itself, before it marks its own.
  if (learners.empty() || uploadInFlight.exchange(true)) {
    if (finished) finished();
    return;
  }
  auto left = std::make_shared<std::size_t>(learners.size());
  auto oneDone = [left, finished]() {
    if (--*left > 0) return;
    uploadInFlight = false;
    if (finished) finished();
  };
  for (const auto& learner : learners) {
    auto fetch = getRetrainCourseDatas(
        std::to_string(learner.integerValue()),
        [learner, oneDone](const model::List<Course>& tree) {
          if (!tree.empty()) StudyBatch::marked(learner).resolve(tree);
          oneDone();
        },
        [oneDone](const platform::Error&) { oneDone(); });
    if (!fetch) continue;  // its error handler already counted it
  }
}

HttpOperation::Ptr NetworkEngine::getM3u8(const std::string& url,
                                          OptionalTextHandler completionHandler,
                                          ErrorHandler errorHandler) {
  platform::assertMainThread("NetworkEngine::getM3u8");
  auto operation = operationWithURLString(url);
  if (operation) {
    operation->addCompletionHandler(
        [completionHandler](const HttpOperation::Ptr& done) {
          if (completionHandler) completionHandler(done->responseString());
        },
        [errorHandler](const HttpOperation::Ptr&, const platform::Error& error) {
          if (errorHandler) errorHandler(error);
        });
  }
  return enqueueOrFail(operation, url, errorHandler);
}

HttpOperation::Ptr NetworkEngine::getMessage(const std::string& userId, const std::string& message,
                                             DictionaryHandler completionHandler,
                                             ErrorHandler errorHandler) {
  platform::assertMainThread("NetworkEngine::getMessage");
  nlohmann::json document = {{"userId", userId}, {"suggestion", message}};
  auto operation = operationWithPath(
      "saveRetrainServiceFeedback.html",
      platform::Dictionary{{"message", document.dump(2)}, {"moduletype", 30}}, "POST");
  if (operation) {
    operation->addCompletionHandler(
        [completionHandler](const HttpOperation::Ptr& done) {
          done->responseJSONWithCompletionHandler(
              [completionHandler](const std::optional<nlohmann::json>& answer) {
                if (completionHandler) completionHandler(feedbackResult(answer));
              });
        },
        [errorHandler](const HttpOperation::Ptr&, const platform::Error& error) {
          if (errorHandler) errorHandler(error);
        });
  }
  return enqueueOrFail(operation, "saveRetrainServiceFeedback.html", errorHandler);
}

std::string NetworkEngine::stringFormDict(const platform::Dictionary& dictionary) {
  std::string text;
  for (const auto& [key, value] : dictionary) {
    if (const platform::Dictionary* inner = value.asDictionary()) {
      text += "\n+++++" + key + ": " + stringFormDict(*inner);
    } else if (const platform::Array* list = value.asArray()) {
      text += "\n-----" + key + ":";
      for (const auto& element : *list) {
        const platform::Dictionary* entry = element.asDictionary();
        text += "\n" + (entry ? stringFormDict(*entry) : element.description());
      }
    } else {
      text += "\n******" + key + ": " + value.description();
    }
  }
  return text;
}

void NetworkEngine::compeleteHandler(const std::string& path, const HttpOperation::Ptr& operation,
                                     TextHandler completionHandler) {
  platform::assertMainThread("NetworkEngine::compeleteHandler");
  if (path == "getRetrainUserId.html" || !operation) return;
  operation->addCompletionHandler(
      [completionHandler](const HttpOperation::Ptr& done) {
        done->responseJSONWithCompletionHandler(
            [completionHandler](const std::optional<nlohmann::json>& answer) {
              if (completionHandler) completionHandler(loginText(answer));
            });
      },
      [](const HttpOperation::Ptr&, const platform::Error&) {});
}
