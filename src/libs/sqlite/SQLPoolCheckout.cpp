#include "sqlite/SQLPoolCheckout.h"

#include "sqlite/SQLDatabasePool.h"

SQLPoolCheckout::SQLPoolCheckout(SQLDatabasePool& pool) : pool_(pool), db_(pool.db()) {}

SQLPoolCheckout::~SQLPoolCheckout() {
  try {
    pushBack();
  } catch (...) {
    // Only an early return or an exception gets here without `pushBack()`; a second exception
    // would end the process, and the connection is back in the pool either way.
  }
}

void SQLPoolCheckout::pushBack() {
  if (pushedBack_) return;
  pushedBack_ = true;
  pool_.pushDatabaseBackInPool(db_);
}
