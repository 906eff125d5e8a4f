#include "sqlite/SQLDatabaseQueue.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <exception>
#include <vector>

#include "platform/foundation/Assert.h"

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
    : _path(std::move(path)), _db(std::move(db)) {
  _queue = platform::dispatch::Queue::serial("sqldb." + description());
}

SQLDatabaseQueue::~SQLDatabaseQueue() = default;

std::string SQLDatabaseQueue::description() const {
  char text[64];
  std::snprintf(text, sizeof text, "<SQLDatabaseQueue: %p>", static_cast<const void*>(this));
  return text;
}

void SQLDatabaseQueue::run(const std::function<void()>& work) {
  // Runs on the caller's thread once the queue is free; a call from inside the queue's own work
  // fails the dispatch layer's nested-sync assertion instead of waiting for ever, and an
  // exception from the work reaches the caller.
  _queue->sync(work);
}

std::shared_ptr<SQLDatabase> SQLDatabaseQueue::database() {
  if (_db) return _db;
  auto db = SQLDatabase::databaseWithPath(_path);
  if (!db->open()) return nullptr;
  _db = std::move(db);
  return _db;
}

void SQLDatabaseQueue::inDatabase(const DatabaseBlock& block) {
  run([&] { block(database()); });
}

void SQLDatabaseQueue::inTransaction(const TransactionBlock& block) {
  beginTransaction(false, block);
}

void SQLDatabaseQueue::inDeferredTransaction(const TransactionBlock& block) {
  beginTransaction(true, block);
}

void SQLDatabaseQueue::beginTransaction(bool useDeferred, const TransactionBlock& block) {
  run([&] {
    auto db = database();
    if (db) useDeferred ? db->beginDeferredTransaction() : db->beginTransaction();
    bool shouldRollback = false;
    try {
      block(db, &shouldRollback);
    } catch (...) {
      if (db) db->rollback();
      throw;
    }
    if (!db) return;
    shouldRollback ? db->rollback() : db->commit();
  });
}

std::optional<platform::Error> SQLDatabaseQueue::inSavePoint(const TransactionBlock& block) {
  static std::atomic<long> savePointIndex{0};
  std::optional<platform::Error> result;
  run([&] {
    std::string name = "savePoint" + std::to_string(savePointIndex++);
    auto db = database();
    if (!db) {
      result = cannotOpen(_path);
      return;
    }
    platform::Error error;
    if (!db->startSavePointWithName(name, &error)) {
      result = error;
      return;
    }
    bool shouldRollback = false;
    try {
      block(db, &shouldRollback);
    } catch (...) {
      db->rollbackToSavePointWithName(name);
      db->releaseSavePointWithName(name);
      throw;
    }
    // Rolling back to a savepoint leaves it open; it is released either way.
    if (shouldRollback && !db->rollbackToSavePointWithName(name, &error)) {
      result = error;
      return;
    }
    if (!db->releaseSavePointWithName(name, &error)) result = error;
  });
  return result;
}

void SQLDatabaseQueue::close() {
  run([&] {
    if (_db) _db->close();
    _db.reset();
  });
}
