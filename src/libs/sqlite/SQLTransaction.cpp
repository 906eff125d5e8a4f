#include "sqlite/SQLTransaction.h"

#include "sqlite/SQLDatabase.h"

SQLTransaction::SQLTransaction(SQLDatabase& db, Kind kind) : db_(db) {
  begun_ = kind == Kind::Deferred ? db_.beginDeferredTransaction() : db_.beginTransaction();
  open_ = begun_;
}

SQLTransaction::~SQLTransaction() {
  if (open_) db_.rollback();
}

bool SQLTransaction::commit() {
  if (!open_) return false;
  if (!db_.commit()) return false;
  open_ = false;
  return true;
}

bool SQLTransaction::rollback() {
  if (!open_) return false;
  open_ = false;
  return db_.rollback();
}

std::optional<platform::Error> SQLTransaction::run(SQLDatabase& db, Kind kind, const Block& block) {
  SQLTransaction transaction(db, kind);
  if (!transaction.begun()) return db.lastError();
  bool shouldRollback = false;
  block(&shouldRollback);
  if (shouldRollback ? transaction.rollback() : transaction.commit()) return std::nullopt;
  return db.lastError();
}
