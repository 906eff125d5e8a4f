#include "sqlite/SQLDatabaseQueue.h"

#include <atomic>
#include <cstdio>

#include "sqlite/SQLSavePoint.h"
#include "sqlite/SQLTransaction.h"

namespace {

platform::Error cannotOpen(const std::string& path) {
  return platform::Error::withDescription("SQLDatabase", SQLITE_CANTOPEN,
                                          "unable to open database file " + path);
}

}  // namespace

std::shared_ptr<SQLDatabaseQueue> SQLDatabaseQueue::databaseQueueWithPath(const std::string& path) {
  auto db = SQLDatabase::databaseWithPath(path);
  if (!db->open()) return nullptr;
  return std::make_shared<SQLDatabaseQueue>(Tag(), path, std::move(db));
}

SQLDatabaseQueue::SQLDatabaseQueue(Tag, std::string path, std::shared_ptr<SQLDatabase> db)
    : _path(std::move(path)), _queue("sqldb." + description()), _db(std::move(db)) {}

SQLDatabaseQueue::~SQLDatabaseQueue() = default;

std::string SQLDatabaseQueue::description() const {
  char text[64];
  std::snprintf(text, sizeof text, "<SQLDatabaseQueue: %p>", static_cast<const void*>(this));
  return text;
}

std::shared_ptr<SQLDatabase> SQLDatabaseQueue::database() {
  if (_db) return _db;
  auto db = SQLDatabase::databaseWithPath(_path);
  if (!db->open()) return nullptr;
  _db = std::move(db);
  return _db;
}

void SQLDatabaseQueue::inDatabase(const DatabaseBlock& block) {
  _queue.sync([&] {
    _queue.assertOnQueue();
    block(database());
  });
}

std::optional<platform::Error> SQLDatabaseQueue::inTransaction(const TransactionBlock& block) {
  return beginTransaction(false, block);
}

std::optional<platform::Error> SQLDatabaseQueue::inDeferredTransaction(
    const TransactionBlock& block) {
  return beginTransaction(true, block);
}

std::optional<platform::Error> SQLDatabaseQueue::beginTransaction(bool useDeferred,
                                                                  const TransactionBlock& block) {
  std::optional<platform::Error> result;
  _queue.sync([&] {
    _queue.assertOnQueue();
    auto db = database();
    if (!db) {
      result = cannotOpen(_path);
      return;
    }
    auto kind = useDeferred ? SQLTransaction::Kind::Deferred : SQLTransaction::Kind::Exclusive;
    result = SQLTransaction::run(*db, kind, [&](bool* rollback) { block(db, rollback); });
  });
  return result;
}

std::optional<platform::Error> SQLDatabaseQueue::inSavePoint(const TransactionBlock& block) {
  static std::atomic<long> savePointIndex{0};
  std::optional<platform::Error> result;
  _queue.sync([&] {
    _queue.assertOnQueue();
    std::string name = "savePoint" + std::to_string(savePointIndex++);
    auto db = database();
    if (!db) {
      result = cannotOpen(_path);
      return;
    }
    result = SQLSavePoint::run(*db, std::move(name), [&](bool* rollback) { block(db, rollback); });
  });
  return result;
}

void SQLDatabaseQueue::close() {
  _queue.sync([&] {
    _queue.assertOnQueue();
    if (_db) _db->close();
    _db.reset();
  });
}
