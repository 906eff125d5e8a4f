#include "dao/RawDb.h"

#include <gtest/gtest.h>

#include "platform/foundation/Paths.h"

namespace daotest {

std::string RawDb::path() {
  return platform::Paths::join(platform::Paths::documents(), "sample.db");
}

RawDb::RawDb() { EXPECT_EQ(sqlite3_open(path().c_str(), &db_), SQLITE_OK); }

RawDb::~RawDb() { sqlite3_close(db_); }

void RawDb::exec(const std::string& sql) {
  char* message = nullptr;
  int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message);
  EXPECT_EQ(rc, SQLITE_OK) << sql << ": " << (message ? message : "");
  sqlite3_free(message);
}

std::vector<std::vector<std::string>> RawDb::rows(const std::string& sql) {
  std::vector<std::vector<std::string>> result;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db_);
    return result;
  }
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    std::vector<std::string> row;
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      const unsigned char* text = sqlite3_column_text(stmt, i);
      row.push_back(text ? reinterpret_cast<const char*>(text) : "NULL");
    }
    result.push_back(std::move(row));
  }
  sqlite3_finalize(stmt);
  return result;
}

std::optional<std::string> RawDb::value(const std::string& sql) {
  auto all = rows(sql);
  if (all.empty() || all[0].empty()) return std::nullopt;
  return all[0][0];
}

std::vector<std::string> RawDb::tableNames() {
  std::vector<std::string> names;
  for (const auto& row : rows("select name from sqlite_master where type='table' and name not "
                              "like 'sqlite_%' order by name")) {
    names.push_back(row[0]);
  }
  return names;
}

std::vector<std::string> RawDb::columnNames(const std::string& table) {
  std::vector<std::string> names;
  for (const auto& row : rows("select name from pragma_table_info('" + table + "')")) {
    names.push_back(row[0]);
  }
  return names;
}

int RawDb::schemaVersion() { return std::stoi(value("PRAGMA schema_version").value_or("-1")); }

}  // namespace daotest
