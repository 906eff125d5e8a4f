#pragma once
// SQLPoolCheckout: a connection checked out of an SQLDatabasePool for the length of a scope. The
// constructor takes one (`db()` is null when none could be had); `pushBack()` returns it, and
// the destructor returns it if that has not happened, so an early return or an exception never
// keeps a connection out of the pool.
//
// `pushBack()` raises the pool's "Database already in pool" exception when the connection was
// pushed back by hand meanwhile; the destructor, which must not throw, swallows any exception.

#include <memory>

class SQLDatabase;
class SQLDatabasePool;

class SQLPoolCheckout {
 public:
  explicit SQLPoolCheckout(SQLDatabasePool& pool);
  ~SQLPoolCheckout();
  SQLPoolCheckout(const SQLPoolCheckout&) = delete;
  SQLPoolCheckout& operator=(const SQLPoolCheckout&) = delete;

  const std::shared_ptr<SQLDatabase>& db() const { return db_; }
  // Returns the connection to the pool now; nothing when there is none or it went back already.
  void pushBack();

 private:
  SQLDatabasePool& pool_;
  std::shared_ptr<SQLDatabase> db_;
  bool pushedBack_ = false;
};
