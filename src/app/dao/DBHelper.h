#pragma once
// DBHelper: brings a connection's database file up to the current schema: the version table
// with its one row, the eight data tables, and the one-time column additions for files made by
// the first release (which had no version table).
//
// The whole set-up runs in one exclusive transaction and is rolled back if any of its statements
// fails, so a file never ends up with a version row but without the added columns: an
// interrupted or failed set-up is simply tried again by the next connection. A file that is
// already current is only read, never locked for writing.

#include <memory>

class SQLDatabase;

class DBHelper {
 public:
  // Opens the connection if needed, switches statement caching on and runs the schema step.
  // Reports nothing: a file that cannot be opened or set up is left as it is.
  void initDB(const std::shared_ptr<SQLDatabase>& db);
};
