#include "analytics/AnalyticsDataStore.h"

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <nlohmann/json.hpp>

#include "analytics/Analytics.h"
#include "analytics/AnalyticsError.h"
#include "analytics/AnalyticsHitUtil.h"
#include "analytics/AnalyticsLog.h"
#include "analytics/AnalyticsUtil.h"
#include "platform/foundation/ApplicationNotifications.h"
#include "platform/foundation/Assert.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Paths.h"
#include "sqlite/SQLDatabase.h"
#include "sqlite/SQLTransaction.h"

struct AnalyticsDataStore::Context {
  std::shared_ptr<SQLDatabase> db;
  // The prefix of the object ids of its hits: "v3" or "v2".
  std::string tag;
  bool old = false;
  // Hits added or deleted since the last save.
  bool hasChanges = false;
};

namespace {

using platform::Dictionary;
using platform::Error;
using platform::Value;

struct Table {
  const char* name;
  std::vector<const char*> columns;
  std::vector<const char*> statements;
};

// Timestamps are REAL seconds since 1970; parameters are JSON objects of texts and nulls (the
// old store's keys are kept without their "&"). Ids are AUTOINCREMENT, so a late delete of an id
// can never remove a newer hit.
const std::vector<Table>& currentModel() {
  static const auto& model = *new std::vector<Table>{
      {"AnalyticsHit",
       {"id", "timestamp", "parameters"},
       {"CREATE TABLE IF NOT EXISTS AnalyticsHit (id INTEGER PRIMARY KEY AUTOINCREMENT, "
        "timestamp REAL, parameters TEXT)",
        "CREATE INDEX IF NOT EXISTS AnalyticsHit_timestamp ON AnalyticsHit (timestamp)"}},
  };
  return model;
}

const std::vector<Table>& oldModel() {
  static const auto& model = *new std::vector<Table>{
      {"AnalyticsProperty",
       {"id", "name", "string", "number", "analyticsVersion"},
       {"CREATE TABLE IF NOT EXISTS AnalyticsProperty (id INTEGER PRIMARY KEY AUTOINCREMENT, "
        "name TEXT NOT NULL, \"string\" TEXT, \"number\" INTEGER, analyticsVersion TEXT NOT NULL)",
        "CREATE INDEX IF NOT EXISTS AnalyticsProperty_name ON AnalyticsProperty (name)",
        "CREATE INDEX IF NOT EXISTS AnalyticsProperty_analyticsVersion ON AnalyticsProperty "
        "(analyticsVersion)"}},
      {"AnalyticsHit",
       {"id", "timestamp", "parametersData", "dispatchUrl", "analyticsVersion"},
       {"CREATE TABLE IF NOT EXISTS AnalyticsHit (id INTEGER PRIMARY KEY AUTOINCREMENT, "
        "timestamp REAL NOT NULL, parametersData BLOB NOT NULL, dispatchUrl TEXT NOT NULL, "
        "analyticsVersion TEXT NOT NULL)",
        "CREATE INDEX IF NOT EXISTS AnalyticsHit_timestamp ON AnalyticsHit (timestamp)",
        "CREATE INDEX IF NOT EXISTS AnalyticsHit_dispatchUrl ON AnalyticsHit (dispatchUrl)",
        "CREATE INDEX IF NOT EXISTS AnalyticsHit_analyticsVersion ON AnalyticsHit "
        "(analyticsVersion)"}},
  };
  return model;
}

// Creates what is missing and checks that every table has its columns; false (with the
// database's error) otherwise.
bool applyModel(SQLDatabase& db, const std::vector<Table>& model, std::string& failure) {
  SQLTransaction transaction(db);
  if (!transaction.begun()) {
    failure = db.lastErrorMessage();
    return false;
  }
  for (const auto& table : model) {
    for (const char* statement : table.statements) {
      if (!db.executeUpdate(statement)) {
        failure = db.lastErrorMessage();
        return false;
      }
    }
    for (const char* column : table.columns) {
      if (!db.columnExists(table.name, column)) {
        failure = std::string("table ") + table.name + " has no column " + column;
        return false;
      }
    }
  }
  if (!transaction.commit()) {
    failure = db.lastErrorMessage();
    return false;
  }
  return true;
}

void removeStoreFiles(const std::string& path) {
  std::error_code ignored;
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
    std::filesystem::remove(path + suffix, ignored);
  }
}

std::string encodeParameters(const Dictionary& parameters, bool stripAmpersand) {
  nlohmann::json object = nlohmann::json::object();
  for (const auto& [key, value] : parameters) {
    std::string name = key;
    if (stripAmpersand && !name.empty() && name.front() == '&') name.erase(0, 1);
    if (const std::string* text = value.asText()) {
      object[name] = *text;
    } else if (value.isNull()) {
      object[name] = nullptr;
    }
  }
  return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string objectId(const AnalyticsDataStore::Context& context, std::int64_t rowId) {
  return context.tag + "/" + std::to_string(rowId);
}

// The row id of `objectId` when it names a hit of `context`.
std::optional<std::int64_t> rowIdOf(const AnalyticsDataStore::Context& context,
                                    const std::string& objectId) {
  std::string prefix = context.tag + "/";
  if (objectId.compare(0, prefix.size(), prefix) != 0 || objectId.size() == prefix.size()) {
    return std::nullopt;
  }
  std::int64_t rowId = 0;
  for (std::size_t i = prefix.size(); i < objectId.size(); ++i) {
    char c = objectId[i];
    if (c < '0' || c > '9' || rowId > (INT64_MAX - 9) / 10) return std::nullopt;
    rowId = rowId * 10 + (c - '0');
  }
  return rowId;
}

Error lookupError(const std::string& objectId) {
  return AnalyticsError::errorWithCode(1, "No stored hit has the id " + objectId);
}

}  // namespace

namespace {

// The stores made so far (held weakly), for the save at exit; never destroyed, since it is read
// while statics are.
struct LiveStores {
  platform::Mutex mutex;
  std::vector<std::weak_ptr<AnalyticsDataStore>> stores GUARDED_BY(mutex);
};

LiveStores& liveStores() {
  static auto* live = new LiveStores;
  return *live;
}

// Signalled by the analytics thread once the save at exit is done.
struct ExitSave {
  std::mutex mutex;
  std::condition_variable cv;
  bool done = false;
};

}  // namespace

void AnalyticsDataStore::rememberForExit(const std::shared_ptr<AnalyticsDataStore>& store) {
  static std::once_flag once;
  std::call_once(once, [] { std::atexit(&AnalyticsDataStore::saveAllAtExit); });
  LiveStores& live = liveStores();
  platform::MutexLock lock(live.mutex);
  std::erase_if(live.stores, [](const auto& weak) { return weak.expired(); });
  live.stores.push_back(store);
}

void AnalyticsDataStore::saveAllAtExit() {
  std::vector<std::shared_ptr<AnalyticsDataStore>> stores;
  {
    LiveStores& live = liveStores();
    platform::MutexLock lock(live.mutex);
    for (const auto& weak : live.stores)
      if (auto store = weak.lock()) stores.push_back(std::move(store));
  }
  if (stores.empty()) return;
  auto saveAll = [stores] {
    for (const auto& store : stores) store->save();
  };
  auto runLoop = thread()->runLoop();
  if (runLoop->isCurrent()) {
    saveAll();
    return;
  }
  // Queued behind every hit handed over before, so those are stored first. Real time, not the
  // clock: a thread stuck on the store must not keep the process from ending.
  auto state = std::make_shared<ExitSave>();
  runLoop->perform([saveAll, state] {
    saveAll();
    std::lock_guard<std::mutex> lock(state->mutex);
    state->done = true;
    state->cv.notify_all();
  });
  std::unique_lock<std::mutex> lock(state->mutex);
  state->cv.wait_for(lock, kExitSaveBound, [&] { return state->done; });
}

std::shared_ptr<AnalyticsDataStore> AnalyticsDataStore::dataStore() {
  std::shared_ptr<AnalyticsDataStore> store(new AnalyticsDataStore());
  rememberForExit(store);
  std::weak_ptr<AnalyticsDataStore> weak = store;
  auto onExit = [weak](const platform::Notification&) {
    if (auto self = weak.lock()) self->save();
  };
  auto& center = platform::NotificationCenter::defaultCenter();
  store->observers_.push_back(
      center.addObserver(platform::kApplicationWillResignActiveNotification, onExit));
  store->observers_.push_back(
      center.addObserver(platform::kApplicationWillTerminateNotification, onExit));
  thread()->runLoop()->perform([weak] {
    if (auto self = weak.lock()) self->setUpCoreDataOnThread();
  });
  return store;
}

AnalyticsDataStore::AnalyticsDataStore() = default;

AnalyticsDataStore::~AnalyticsDataStore() = default;

std::optional<std::string> AnalyticsDataStore::databaseFullPath(const std::string& name) {
  std::string library = platform::Paths::library();
  if (library.empty()) return std::nullopt;
  return platform::Paths::join(library, name);
}

std::optional<std::string> AnalyticsDataStore::databaseFullURL(const std::string& name) {
  auto path = databaseFullPath(name);
  if (!path) return std::nullopt;
  return "file://" + *path;
}

std::shared_ptr<platform::Thread> AnalyticsDataStore::thread() { return Analytics::thread(); }

std::optional<Dictionary> AnalyticsDataStore::decodeStoredParameters(std::string_view text,
                                                                     bool oldStore) {
  auto json = platform::Json::parse(text);
  if (!json || !json->is_object()) return std::nullopt;
  Dictionary parameters;
  for (const auto& [key, value] : json->items()) {
    std::string name = oldStore ? "&" + key : key;
    if (value.is_string()) {
      parameters[name] = value.get<std::string>();
    } else if (value.is_null()) {
      parameters[name] = Value();
    }
  }
  return parameters;
}

void AnalyticsDataStore::requireThread() const {
#ifndef NDEBUG
  platform::assertThat(thread()->runLoop()->isCurrent(),
                       "AnalyticsDataStore used off the analytics thread");
#endif
}

template <class R>
R AnalyticsDataStore::performBlockAndWait(const std::function<R(std::optional<Error>&)>& block,
                                          R failed, ErrorOut errorOut) {
  R result = failed;
  std::optional<Error> error;
  Analytics::performOnThreadAndWait([&] {
    setUpCoreDataOnThread();
    if (!setUp_.load()) return;
    try {
      result = block(error);
    } catch (const std::exception& exception) {
      result = failed;
      auto description =
          AnalyticsUtil::descriptionFromException(AnalyticsException::fromException(exception));
      error = Error("NSSQLiteErrorDomain", -1, {{"exception", description.value_or("")}});
    }
  });
  if (errorOut) {
    *errorOut = error;
  } else if (error) {
    ANALYTICS_LOG_ERROR("Datastore error: " + AnalyticsUtil::descriptionFromError(error).value());
  }
  return result;
}

void AnalyticsDataStore::setUpCoreDataOnThread() {
  requireThread();
  if (setUpAttempted_) return;
  setUpAttempted_ = true;
  oldContext_ = contextWithModel(kOldStoreName);
  context_ = contextWithModel(kCurrentStoreName);
  if (!oldContext_ || !context_) {
    // Half a store is no store: both files are needed for hits and the client id.
    oldContext_.reset();
    context_.reset();
    ANALYTICS_LOG_ERROR("Can not setup Core Data stack");
    return;
  }
  std::optional<Error> error;
  if (countHits(*oldContext_, error) > 0) {
    currentIsOld_.store(true);
    removeStaleHits(*oldContext_, error);
  }
  auto known = fetchClientId();
  if (!known) {
    known = AnalyticsHitUtil::generateClientId();
    storeClientId(*known, error);
  }
  {
    platform::MutexLock lock(mutex_);
    _clientId = known;
  }
  if (error) {
    ANALYTICS_LOG_ERROR("Datastore error: " + AnalyticsUtil::descriptionFromError(error).value());
  }
  setUp_.store(true);
}

std::shared_ptr<AnalyticsDataStore::Context> AnalyticsDataStore::contextWithModel(
    const char* name) {
  bool old = std::string(name) == kOldStoreName;
  auto path = databaseFullPath(name);
  if (!path) return nullptr;
  std::string url = "file://" + *path;
  for (int attempt = 0; attempt < 2; ++attempt) {
    auto db = SQLDatabase::databaseWithPath(*path);
    std::string failure;
    if (db->open()) {
      // Hits are written one commit at a time: a write-ahead log without a sync per commit keeps
      // that cheap, and a crash loses at most the last commits, never the file.
      if (auto mode = db->executeQuery("PRAGMA journal_mode = WAL")) {
        mode->next();
        mode->close();
      }
      db->executeUpdate("PRAGMA synchronous = NORMAL");
      if (applyModel(*db, old ? oldModel() : currentModel(), failure)) {
        auto context = std::make_shared<Context>();
        context->db = std::move(db);
        context->tag = old ? "v2" : "v3";
        context->old = old;
        return context;
      }
    } else {
      failure = db->lastErrorMessage();
    }
    db->close();
    if (attempt == 0) {
      removeStoreFiles(*path);
      ANALYTICS_LOG_WARNING("Corrupted database with URL " + url + ": " + failure);
    } else {
      ANALYTICS_LOG_ERROR("Error creating database with URL " + url + ": " + failure);
    }
  }
  return nullptr;
}

AnalyticsDataStore::Context& AnalyticsDataStore::currentContext() {
  return currentIsOld_.load() ? *oldContext_ : *context_;
}

std::int64_t AnalyticsDataStore::countHits(Context& context, std::optional<Error>& error) {
  auto rows = context.db->executeQuery("SELECT COUNT(*) FROM AnalyticsHit");
  if (!rows || !rows->next()) {
    error = context.db->lastError();
    return -1;
  }
  std::int64_t count = rows->longLongIntForColumnIndex(0);
  rows->close();
  return count;
}

std::optional<std::vector<Dictionary>> AnalyticsDataStore::fetchHits(Context& context,
                                                                     unsigned limit,
                                                                     std::optional<Error>& error) {
  const char* query = context.old
                          ? "SELECT id, timestamp, parametersData, dispatchUrl, analyticsVersion "
                            "FROM AnalyticsHit ORDER BY timestamp, id LIMIT ?"
                          : "SELECT id, timestamp, parameters FROM AnalyticsHit "
                            "ORDER BY timestamp, id LIMIT ?";
  // Each round either answers or deletes at least one row that does not decode, so the rounds
  // end; the rows deleted make room for the ones after them.
  for (;;) {
    auto rows = context.db->executeQuery(query, limit == 0 ? -1LL : static_cast<long long>(limit));
    if (!rows) {
      error = context.db->lastError();
      return std::nullopt;
    }
    std::vector<Dictionary> hits;
    std::vector<std::int64_t> undecodable;
    while (rows->next()) {
      std::int64_t rowId = rows->longLongIntForColumnIndex(0);
      Dictionary hit;
      if (auto timestamp = rows->dateForColumnIndex(1)) hit["timestamp"] = *timestamp;
      std::optional<Dictionary> parameters;
      if (auto stored = rows->dataNoCopyForColumnIndex(2)) {
        std::string_view text(reinterpret_cast<const char*>(stored->data()), stored->size());
        parameters = decodeStoredParameters(text, context.old);
      }
      if (!parameters) {
        undecodable.push_back(rowId);
        continue;
      }
      if (context.old) {
        std::string dispatchUrl = rows->stringForColumnIndex(3).value_or("");
        if (dispatchUrl.compare(0, 5, "http:") == 0) (*parameters)["useSecure"] = "0";
        (*parameters)["analyticsVersion"] = rows->stringForColumnIndex(4).value_or("");
      }
      hit["parameters"] = std::move(*parameters);
      hit["objectID"] = objectId(context, rowId);
      hits.push_back(std::move(hit));
    }
    rows->close();
    if (undecodable.empty()) return hits;
    for (std::int64_t rowId : undecodable) {
      ANALYTICS_LOG_ERROR("Deleting a stored hit that does not decode: " +
                          objectId(context, rowId));
    }
    if (!deleteIds(context, undecodable, error)) return std::nullopt;
  }
}

bool AnalyticsDataStore::deleteIds(Context& context, const std::vector<std::int64_t>& rowIds,
                                   std::optional<Error>& error) {
  if (rowIds.empty()) return true;
  SQLTransaction transaction(*context.db);
  if (!transaction.begun()) {
    error = context.db->lastError();
    return false;
  }
  std::optional<Error> lookup;
  for (std::int64_t rowId : rowIds) {
    if (!context.db->executeUpdate("DELETE FROM AnalyticsHit WHERE id = ?", rowId)) {
      error = context.db->lastError();
      return false;
    }
    if (context.db->changes() == 0) lookup = lookupError(objectId(context, rowId));
    context.hasChanges = true;
  }
  if (!transaction.commit()) {
    error = context.db->lastError();
    return false;
  }
  if (lookup) {
    error = lookup;
    return false;
  }
  return true;
}

bool AnalyticsDataStore::removeStaleHits(Context& context, std::optional<Error>& error) {
  double cutoff = platform::toSeconds(platform::Clock::shared()->now()) - kStaleHitAge;
  if (!context.db->executeUpdate("DELETE FROM AnalyticsHit WHERE timestamp <= ?", cutoff)) {
    error = context.db->lastError();
    return false;
  }
  context.hasChanges = true;
  return saveOnThread(error);
}

bool AnalyticsDataStore::deleteExcessHits(std::optional<Error>& error) {
  unsigned max = maxHitCount();
  if (max == 0) return true;
  std::int64_t count = countHits(*context_, error);
  if (count >= 0 && currentIsOld_.load()) {
    std::int64_t old = countHits(*oldContext_, error);
    count = old < 0 ? -1 : count + old;
  }
  if (count < 0 || count <= static_cast<std::int64_t>(max)) return count >= 0;
  ANALYTICS_LOG_VERBOSE("Deleting excess hits.");
  auto oldest = fetchHits(currentContext(), static_cast<unsigned>(count - max), error);
  if (!oldest) return false;
  std::vector<std::int64_t> rowIds;
  for (const auto& hit : *oldest) {
    if (auto rowId = rowIdOf(currentContext(), hit.at("objectID").stringValue())) {
      rowIds.push_back(*rowId);
    }
  }
  return deleteIds(currentContext(), rowIds, error);
}

bool AnalyticsDataStore::saveOnThread(std::optional<Error>& error) {
  bool ok = true;
  if (context_->hasChanges || oldContext_->hasChanges) {
    ok = deleteExcessHits(error);
    context_->hasChanges = false;
    oldContext_->hasChanges = false;
  }
  if (currentIsOld_.load()) {
    std::optional<Error> countError;
    if (countHits(*oldContext_, countError) == 0) currentIsOld_.store(false);
  }
  return ok;
}

std::optional<std::string> AnalyticsDataStore::fetchClientId() {
  auto rows = oldContext_->db->executeQuery(
      "SELECT \"string\" FROM AnalyticsProperty WHERE name = ? LIMIT 1", "ClientId");
  if (!rows || !rows->next()) return std::nullopt;
  auto value = rows->stringForColumnIndex(0);
  rows->close();
  return value;
}

bool AnalyticsDataStore::storeClientId(const std::string& clientId, std::optional<Error>& error) {
  SQLDatabase& db = *oldContext_->db;
  bool ok = db.executeUpdate("UPDATE AnalyticsProperty SET \"string\" = ? WHERE name = ?", clientId,
                             "ClientId");
  if (ok && db.changes() == 0) {
    ok = db.executeUpdate(
        "INSERT INTO AnalyticsProperty (name, analyticsVersion, \"string\") VALUES (?, ?, ?)",
        "ClientId", "3.01", clientId);
  }
  if (!ok) error = db.lastError();
  return ok;
}

void AnalyticsDataStore::addHit(const Dictionary& hit) {
  performBlockAndWait<bool>(
      [&](std::optional<Error>& error) {
        const Value* stamp = platform::find(hit, "timestamp");
        platform::Date timestamp =
            stamp && stamp->asDate() ? *stamp->asDate() : platform::Clock::shared()->now();
        const Value* stored = platform::find(hit, "parameters");
        // Not a static: hits are also stored at exit, while statics are being destroyed.
        const Dictionary none;
        const Dictionary* parameters = stored ? stored->asDictionary() : nullptr;
        std::string encoded = encodeParameters(parameters ? *parameters : none, false);
        if (!context_->db->executeUpdate(
                "INSERT INTO AnalyticsHit (timestamp, parameters) VALUES (?, ?)", Value(timestamp),
                encoded)) {
          error = context_->db->lastError();
          return false;
        }
        context_->hasChanges = true;
        return true;
      },
      false, nullptr);
}

std::optional<std::vector<Dictionary>> AnalyticsDataStore::fetchHitsWithLimit(unsigned limit,
                                                                              ErrorOut error) {
  using Result = std::optional<std::vector<Dictionary>>;
  return performBlockAndWait<Result>(
      [&](std::optional<Error>& e) { return fetchHits(currentContext(), limit, e); }, std::nullopt,
      error);
}

bool AnalyticsDataStore::deleteHitsWithIds(const std::vector<std::string>& ids, ErrorOut error) {
  return performBlockAndWait<bool>(
      [&](std::optional<Error>& e) {
        Context& context = currentContext();
        std::vector<std::int64_t> rowIds;
        std::optional<Error> lookup;
        for (const auto& id : ids) {
          if (auto rowId = rowIdOf(context, id)) {
            rowIds.push_back(*rowId);
          } else {
            lookup = lookupError(id);
          }
        }
        if (!deleteIds(context, rowIds, e)) return false;
        if (lookup) {
          e = lookup;
          return false;
        }
        return true;
      },
      false, error);
}

bool AnalyticsDataStore::deleteAllHits(ErrorOut error) {
  return performBlockAndWait<bool>(
      [&](std::optional<Error>& e) {
        for (Context* context : {oldContext_.get(), context_.get()}) {
          if (!context->db->executeUpdate("DELETE FROM AnalyticsHit")) {
            e = context->db->lastError();
            return false;
          }
          context->hasChanges = true;
        }
        return true;
      },
      false, error);
}

std::int64_t AnalyticsDataStore::hitCount(ErrorOut error) {
  return performBlockAndWait<std::int64_t>(
      [&](std::optional<Error>& e) -> std::int64_t {
        std::int64_t count = countHits(*context_, e);
        if (count < 0 || !currentIsOld_.load()) return count;
        std::int64_t old = countHits(*oldContext_, e);
        return old < 0 ? -1 : count + old;
      },
      -1, error);
}

bool AnalyticsDataStore::save(ErrorOut error) {
  return performBlockAndWait<bool>([&](std::optional<Error>& e) { return saveOnThread(e); }, false,
                                   error);
}

std::optional<std::string> AnalyticsDataStore::clientId() {
  {
    platform::MutexLock lock(mutex_);
    if (_clientId) return _clientId;
  }
  // Set-up, still queued or under way on the thread, reads or makes it; wait for it there. The
  // lock is not held meanwhile: the thread may need it.
  Analytics::performOnThreadAndWait([this] { setUpCoreDataOnThread(); });
  platform::MutexLock lock(mutex_);
  return _clientId;
}

void AnalyticsDataStore::setClientId(const std::string& clientId) {
  performBlockAndWait<bool>([&](std::optional<Error>& e) { return storeClientId(clientId, e); },
                            false, nullptr);
  // After the store work, which runs set-up first: set-up must not overwrite this value.
  platform::MutexLock lock(mutex_);
  _clientId = clientId;
}
