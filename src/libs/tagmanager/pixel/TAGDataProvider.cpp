#include "tagmanager/pixel/TAGDataProvider.h"

#include <cstdio>

#include "platform/foundation/ApplicationNotifications.h"
#include "platform/foundation/Clock.h"
#include "sqlite/SQLResultSet.h"
#include "sqlite/SQLTransaction.h"
#include "tagmanager/base/TAGDispatchUtil.h"

namespace {

constexpr const char* kStoreName = "TM.sql";

// The TAGHit entity as a table; AUTOINCREMENT keeps row ids from ever being reused.
constexpr const char* kSchema[] = {
    ("CREATE TABLE IF NOT EXISTS TAGHit (id INTEGER PRIMARY KEY AUTOINCREMENT, "
     "dispatchURL TEXT NOT NULL, timestamp REAL NOT NULL, dispatchTime REAL, retryCount INTEGER)"),
    "CREATE INDEX IF NOT EXISTS TAGHit_dispatchURL ON TAGHit (dispatchURL)",
    "CREATE INDEX IF NOT EXISTS TAGHit_timestamp ON TAGHit (timestamp)",
    "CREATE INDEX IF NOT EXISTS TAGHit_dispatchTime ON TAGHit (dispatchTime)",
};
constexpr const char* kColumns[] = {"id", "dispatchURL", "timestamp", "dispatchTime", "retryCount"};

double nowSeconds() { return platform::toSeconds(platform::Clock::shared()->now()); }

bool applySchema(SQLDatabase& db) {
  SQLTransaction transaction(db);
  if (!transaction.begun()) return false;
  for (const char* statement : kSchema) {
    if (!db.executeUpdate(statement)) return false;
  }
  for (const char* column : kColumns) {
    if (!db.columnExists("TAGHit", column)) return false;
  }
  return transaction.commit();
}

void removeStoreFiles(const std::string& path) {
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
    std::remove((path + suffix).c_str());
  }
}

// Store steps drop any exception: a broken store must not take TAGThread down.
template <class Work>
void guarded(Work&& work) {
  try {
    work();
  } catch (...) {
  }
}

}  // namespace

std::shared_ptr<TAGDataProvider> TAGDataProvider::init() {
  auto provider = create();
  std::weak_ptr<TAGDataProvider> weak = provider;
  auto onExit = [weak](const platform::Notification&) {
    if (auto self = weak.lock()) self->onExit();
  };
  auto& center = platform::NotificationCenter::defaultCenter();
  provider->resignToken_ =
      center.addObserver(platform::kApplicationWillResignActiveNotification, onExit);
  provider->terminateToken_ =
      center.addObserver(platform::kApplicationWillTerminateNotification, onExit);
  TAGDispatchUtil::background([provider] { provider->openStore(); }, false);
  return provider;
}

TAGDataProvider::~TAGDataProvider() = default;

std::shared_ptr<SQLDatabase> TAGDataProvider::contextWithPath(
    const std::optional<std::string>& path) {
  if (!path) return nullptr;
  for (int attempt = 0; attempt < 2; ++attempt) {
    auto db = SQLDatabase::databaseWithPath(*path);
    db->setLogsErrors(false);
    if (db->open()) {
      // Every hit is a commit of its own: a write-ahead log without a sync per commit keeps that
      // cheap, and a crash loses at most the last hits, never the file.
      if (auto mode = db->executeQuery("PRAGMA journal_mode = WAL")) {
        mode->next();
        mode->close();
      }
      db->executeUpdate("PRAGMA synchronous = NORMAL");
      if (applySchema(*db)) return db;
    }
    db->close();
    if (attempt == 0) removeStoreFiles(*path);
  }
  return nullptr;
}

const std::shared_ptr<SQLDatabase>& TAGDataProvider::context() const {
  TAGDispatchUtil::assertOnThread("TAGDataProvider::context");
  return _context;
}

void TAGDataProvider::openStore() {
  TAGDispatchUtil::assertOnThread("TAGDataProvider::openStore");
  guarded([&] { _context = contextWithPath(TAGDispatchUtil::databaseFullPath(kStoreName)); });
  setHasHits(true);
}

void TAGDataProvider::setHasHits(bool value) {
  TAGDispatchUtil::assertOnThread("TAGDataProvider::setHasHits");
  bool old = _hasHits.exchange(value);
  if (old != value && hasHitsObserver_) hasHitsObserver_();
}

void TAGDataProvider::setHasHitsObserver(std::function<void()> observer) {
  auto self = shared_from_this();
  TAGDispatchUtil::background([self, observer] { self->hasHitsObserver_ = observer; }, true);
}

void TAGDataProvider::addHitWithURLString(const std::string& url) {
  auto self = shared_from_this();
  TAGDispatchUtil::background(
      [self, url] {
        guarded([&] {
          if (!self->_context) return;
          if (self->_context->executeUpdate(
                  "INSERT INTO TAGHit (dispatchURL, timestamp) VALUES (?, ?)", url, nowSeconds())) {
            self->hasChanges_ = true;
          }
          self->save();
        });
      },
      false);
}

void TAGDataProvider::fetchHitsWithLimit(std::uint32_t limit,
                                         std::function<void(const HitList&)> completion) {
  auto self = shared_from_this();
  TAGDispatchUtil::background(
      [self, limit, completion] {
        guarded([&] {
          HitList hits;
          if (self->_context) {
            // Hits that never failed go first: a batch's worth of failing ones would otherwise
            // take every batch until they expire, and hold back every hit behind them.
            auto rows = self->_context->executeQuery(
                "SELECT id, dispatchURL, timestamp, dispatchTime, retryCount FROM TAGHit "
                "ORDER BY dispatchTime IS NOT NULL, timestamp ASC, id ASC LIMIT ?",
                limit == 0 ? -1LL : static_cast<long long>(limit));
            while (rows && rows->next()) {
              TAGHit hit;
              hit.objectId = rows->longLongIntForColumnIndex(0);
              hit.dispatchURL = rows->stringForColumnIndex(1).value_or("");
              hit.timestamp = platform::dateFromSeconds(rows->doubleForColumnIndex(2));
              if (!rows->columnIsNull("dispatchTime")) {
                hit.dispatchTime = platform::dateFromSeconds(rows->doubleForColumnIndex(3));
              }
              if (!rows->columnIsNull("retryCount")) {
                hit.retryCount = static_cast<std::int16_t>(rows->intForColumnIndex(4));
              }
              hits.push_back(std::move(hit));
            }
          }
          self->setHasHits(!hits.empty());
          if (completion) completion(hits);
        });
      },
      false);
}

void TAGDataProvider::deleteHits(const HitList& hits) {
  auto self = shared_from_this();
  TAGDispatchUtil::background(
      [self, hits] {
        guarded([&] {
          if (!self->_context) return;
          for (const auto& hit : hits) {
            if (self->_context->executeUpdate("DELETE FROM TAGHit WHERE id = ?",
                                              static_cast<long long>(hit.objectId))) {
              self->hasChanges_ = true;
            }
          }
          self->save();
        });
      },
      false);
}

void TAGDataProvider::updateFailedHits(const HitList& hits) {
  auto self = shared_from_this();
  TAGDispatchUtil::background(
      [self, hits] {
        guarded([&] {
          if (!self->_context) return;
          double now = nowSeconds();
          for (const auto& hit : hits) {
            if (self->_context->executeUpdate(
                    "UPDATE TAGHit SET dispatchTime = ? WHERE id = ? AND dispatchTime IS NULL", now,
                    static_cast<long long>(hit.objectId))) {
              self->hasChanges_ = true;
            }
          }
          self->save();
        });
      },
      false);
}

void TAGDataProvider::onExit() {
  auto self = shared_from_this();
  TAGDispatchUtil::background([self] { guarded([&] { self->save(); }); }, true);
}

void TAGDataProvider::save() {
  TAGDispatchUtil::assertOnThread("TAGDataProvider::save");
  if (!_context || !hasChanges_) return;
  deleteExcessHits(nullptr);
  hasChanges_ = false;
  setHasHits(hitCount(nullptr) > 0);
}

bool TAGDataProvider::deleteWhere(const std::string& condition, double argument) {
  return _context->executeUpdate("DELETE FROM TAGHit WHERE " + condition, argument);
}

bool TAGDataProvider::deleteExcessHits(platform::Error* error) {
  TAGDispatchUtil::assertOnThread("TAGDataProvider::deleteExcessHits");
  if (!_context) return false;
  bool ok = true;
  double maxAge = _maxHitAge.load();
  if (maxAge != 0) ok = deleteWhere("timestamp <= ?", nowSeconds() - maxAge) && ok;
  std::uint32_t maxCount = _maxHitCount.load();
  if (maxCount != 0) {
    std::int64_t count = hitCount(error);
    if (count > static_cast<std::int64_t>(maxCount)) {
      ok = _context->executeUpdate(
               "DELETE FROM TAGHit WHERE id IN (SELECT id FROM TAGHit ORDER BY timestamp ASC, "
               "id ASC LIMIT ?)",
               static_cast<long long>(count - maxCount)) &&
           ok;
    }
  }
  if (!ok && error) *error = _context->lastError();
  return ok;
}

std::int64_t TAGDataProvider::hitCount(platform::Error* error) {
  TAGDispatchUtil::assertOnThread("TAGDataProvider::hitCount");
  if (!_context) return 0;
  auto rows = _context->executeQuery("SELECT COUNT(*) FROM TAGHit");
  if (!rows || !rows->next()) {
    if (error) *error = _context->lastError();
    return 0;
  }
  return rows->longLongIntForColumnIndex(0);
}
