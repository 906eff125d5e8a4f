#pragma once
// RawDb: direct access to the application's database file through the SQLite C interface, so
// tests can build files the way an earlier release left them and look at what the stores wrote
// without going through the code under test.

#include <sqlite3.h>

#include <optional>
#include <string>
#include <vector>

namespace daotest {

class RawDb {
 public:
  // Opens (creating if needed) "sample.db" in the current home's documents folder.
  RawDb();
  ~RawDb();
  RawDb(const RawDb&) = delete;
  RawDb& operator=(const RawDb&) = delete;

  // Runs one or more statements; fails the test on an error.
  void exec(const std::string& sql);
  // Every row of a query, each column as its text ("NULL" for NULL).
  std::vector<std::vector<std::string>> rows(const std::string& sql);
  // The first column of the first row, or absent.
  std::optional<std::string> value(const std::string& sql);
  std::vector<std::string> tableNames();
  std::vector<std::string> columnNames(const std::string& table);
  int schemaVersion();

  static std::string path();

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace daotest
