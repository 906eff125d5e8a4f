// Access layer against the raw SQLite C interface, on the same file in one run:
//   insert: 100,000 rows with bound arguments inside one transaction;
//   scan:   every row, reading every column by name.
// The raw side resolves each column name to its index once per scan (the C interface reads by
// index only) and copies texts into std::string as the layer does, so the ratio shows what the
// layer itself costs. The sides run in alternating rounds, timed in CPU time of this thread; the
// tables both inserts leave must hold the same rows, and both scans must read the same sums.

#include <sqlite3.h>
#include <stdlib.h>
#include <time.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "BenchHarness.h"
#include "sqlite/SQLDatabase.h"

namespace {

constexpr int kRows = 100000;
const char* kColumns[] = {"id", "name", "price", "qty", "note"};

std::string nameFor(int i) { return "lecture-" + std::to_string(i); }

// CPU time of this thread: what each side costs, little disturbed by other work on the machine
// or by the disk's flush at commit, which is the same for both.
double cpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double millis(const std::function<void()>& work) {
  double start = cpuSeconds();
  work();
  return (cpuSeconds() - start) * 1000;
}

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "sqlite_bench: %s failed\n", what);
  std::exit(1);
}

void exec(sqlite3* db, const std::string& sql) {
  check(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK, sql.c_str());
}

void createTable(sqlite3* db, const std::string& table) {
  exec(db, "drop table if exists " + table);
  exec(db, "create table " + table + "(id integer, name text, price real, qty integer, note text)");
}

void rawInsert(sqlite3* db, const std::string& table) {
  sqlite3_stmt* statement = nullptr;
  std::string sql = "insert into " + table + " values (?, ?, ?, ?, ?)";
  check(sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK, "prepare");
  exec(db, "begin exclusive transaction");
  for (int i = 0; i < kRows; ++i) {
    std::string name = nameFor(i);
    sqlite3_bind_int64(statement, 1, i);
    sqlite3_bind_text(statement, 2, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    sqlite3_bind_double(statement, 3, i * 0.5);
    sqlite3_bind_int64(statement, 4, i % 7);
    sqlite3_bind_text(statement, 5, "note", 4, SQLITE_TRANSIENT);
    check(sqlite3_step(statement) == SQLITE_DONE, "step");
    sqlite3_reset(statement);
  }
  exec(db, "commit transaction");
  sqlite3_finalize(statement);
}

void layerInsert(SQLDatabase& db, const std::string& table) {
  std::string sql = "insert into " + table + " values (?, ?, ?, ?, ?)";
  check(db.beginTransaction(), "begin");
  for (int i = 0; i < kRows; ++i) {
    check(db.executeUpdate(sql, i, nameFor(i), i * 0.5, i % 7, "note"), "executeUpdate");
  }
  check(db.commit(), "commit");
}

long long rawScan(sqlite3* db, const std::string& table) {
  sqlite3_stmt* statement = nullptr;
  std::string sql = "select * from " + table;
  check(sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK, "prepare");
  int index[5];
  for (int c = 0; c < 5; ++c) {
    for (int i = 0; i < sqlite3_column_count(statement); ++i) {
      if (sqlite3_stricmp(sqlite3_column_name(statement, i), kColumns[c]) == 0) index[c] = i;
    }
  }
  long long sum = 0;
  while (sqlite3_step(statement) == SQLITE_ROW) {
    auto text = [&](int i) {
      auto* p = reinterpret_cast<const char*>(sqlite3_column_text(statement, i));
      return std::string(p, static_cast<size_t>(sqlite3_column_bytes(statement, i)));
    };
    sum += sqlite3_column_int64(statement, index[0]);
    sum += static_cast<long long>(text(index[1]).size());
    sum += static_cast<long long>(sqlite3_column_double(statement, index[2]));
    sum += sqlite3_column_int(statement, index[3]);
    sum += static_cast<long long>(text(index[4]).size());
  }
  sqlite3_finalize(statement);
  return sum;
}

long long layerScan(SQLDatabase& db, const std::string& table) {
  auto rs = db.executeQuery("select * from " + table);
  check(rs != nullptr, "executeQuery");
  long long sum = 0;
  while (rs->next()) {
    sum += rs->longLongIntForColumn("id");
    sum += static_cast<long long>(rs->stringForColumn("name")->size());
    sum += static_cast<long long>(rs->doubleForColumn("price"));
    sum += rs->intForColumn("qty");
    sum += static_cast<long long>(rs->stringForColumn("note")->size());
  }
  return sum;
}

// The rows of `table` as one text, read through the raw interface: count and sums of every column.
std::string tableDigest(sqlite3* db, const std::string& table) {
  sqlite3_stmt* statement = nullptr;
  std::string sql =
      "select count(*), sum(id), sum(length(name)), sum(price), sum(qty), "
      "sum(length(note)), group_concat(distinct note) from " +
      table;
  check(sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK, "prepare");
  check(sqlite3_step(statement) == SQLITE_ROW, "digest");
  std::string digest = std::to_string(sqlite3_column_int64(statement, 0)) + " rows";
  for (int c = 1; c < 7; ++c) {
    auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, c));
    digest.push_back(' ');
    digest.append(text ? text : "");
  }
  sqlite3_finalize(statement);
  return digest;
}

}  // namespace

int main() {
  std::string folder = (std::filesystem::temp_directory_path() / "sqlite-bench-XXXXXX").string();
  check(mkdtemp(folder.data()) != nullptr, "mkdtemp");
  std::string path = folder + "/bench.db";

  sqlite3* raw = nullptr;
  check(sqlite3_open(path.c_str(), &raw) == SQLITE_OK, "open");
  auto layer = SQLDatabase::databaseWithPath(path);
  check(layer->open(), "layer open");
  layer->setShouldCacheStatements(true);

  bench::Harness harness("sqlite");
  auto figure = [](const char* name) {
    return bench::Comparison{name, "ms CPU", "SQLDatabase", "raw C interface", {"<=", 1.1}, ""};
  };
  std::printf("SQLite %s, %d rows, CPU time of this thread\n", sqlite3_libversion(), kRows);
  harness.compare(
      figure("insert 100,000 rows, one transaction"),
      [&] {
        createTable(raw, "layer_rows");
        layer->clearCachedStatements();  // the schema changed
        double ms = millis([&] { layerInsert(*layer, "layer_rows"); });
        return bench::Outcome{ms, tableDigest(raw, "layer_rows")};
      },
      [&] {
        createTable(raw, "raw_rows");
        layer->clearCachedStatements();
        double ms = millis([&] { rawInsert(raw, "raw_rows"); });
        return bench::Outcome{ms, tableDigest(raw, "raw_rows")};
      });
  harness.compare(
      figure("scan 100,000 rows, every column by name"),
      [&] {
        long long sum = 0;
        double ms = millis([&] { sum = layerScan(*layer, "layer_rows"); });
        return bench::Outcome{ms, "checksum " + std::to_string(sum)};
      },
      [&] {
        long long sum = 0;
        double ms = millis([&] { sum = rawScan(raw, "raw_rows"); });
        return bench::Outcome{ms, "checksum " + std::to_string(sum)};
      });

  layer->close();
  sqlite3_close(raw);
  std::filesystem::remove_all(folder);
  return harness.exitCode();
}
