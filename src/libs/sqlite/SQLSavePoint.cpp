#include "sqlite/SQLSavePoint.h"

#include "sqlite/SQLDatabase.h"

SQLSavePoint::SQLSavePoint(SQLDatabase& db, std::string name, platform::Error* error)
    : db_(db), name_(std::move(name)) {
  started_ = db_.startSavePointWithName(name_, error);
  open_ = started_;
}

SQLSavePoint::~SQLSavePoint() {
  if (open_) rollback();
}

bool SQLSavePoint::release(platform::Error* error) {
  if (!open_) return false;
  open_ = false;
  return db_.releaseSavePointWithName(name_, error);
}

bool SQLSavePoint::rollback(platform::Error* error) {
  if (!open_) return false;
  open_ = false;
  // Rolling back to a savepoint leaves it open (and, outermost, its transaction with it).
  return db_.rollbackToSavePointWithName(name_, error) &&
         db_.releaseSavePointWithName(name_, error);
}

std::optional<platform::Error> SQLSavePoint::run(SQLDatabase& db, std::string name,
                                                 const Block& block) {
  platform::Error error;
  SQLSavePoint savePoint(db, std::move(name), &error);
  if (!savePoint.started()) return error;
  bool shouldRollback = false;
  block(&shouldRollback);
  if (shouldRollback ? savePoint.rollback(&error) : savePoint.release(&error)) return std::nullopt;
  return error;
}
