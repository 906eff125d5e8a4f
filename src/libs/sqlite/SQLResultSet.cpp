#include "sqlite/SQLResultSet.h"

#include <algorithm>

#include "sqlite/SQLDatabase.h"
#include "sqlite/SQLStatement.h"

namespace {

// ASCII only, as SQLite folds names: cheap enough for a lookup on every column read.
inline char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

std::string lowered(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = lower(c);
  return out;
}

}  // namespace

size_t SQLResultSet::CaseInsensitiveHash::operator()(std::string_view s) const {
  size_t h = 1469598103934665603ull;
  for (char c : s) {
    h ^= static_cast<unsigned char>(lower(c));
    h *= 1099511628211ull;
  }
  return h;
}

bool SQLResultSet::CaseInsensitiveEqual::operator()(std::string_view a, std::string_view b) const {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::unique_ptr<SQLResultSet> SQLResultSet::resultSetWithStatement(
    std::shared_ptr<SQLStatement> statement, std::shared_ptr<SQLDatabase> parentDB) {
  return std::make_unique<SQLResultSet>(std::move(statement), std::move(parentDB));
}

SQLResultSet::SQLResultSet(std::shared_ptr<SQLStatement> statement,
                           std::shared_ptr<SQLDatabase> parentDB)
    : _parentDB(std::move(parentDB)) {
  setStatement(std::move(statement));
}

void SQLResultSet::setStatement(std::shared_ptr<SQLStatement> statement) {
  _statement = std::move(statement);
  sqlite3_stmt* h = handle();
  columnCount_ = h ? sqlite3_column_count(h) : 0;
}

SQLResultSet::~SQLResultSet() { close(); }

sqlite3_stmt* SQLResultSet::handle() const {
  return _statement ? _statement->statement() : nullptr;
}

bool SQLResultSet::next() {
  sqlite3_stmt* h = handle();
  if (!h || !_parentDB) {
    close();
    return false;
  }
  _parentDB->markUsedOnThisThread();
  int rc = _parentDB->stepUnderBusyRule(h);
  if (rc != SQLITE_ROW) {
    close();
    return false;
  }
  columnCount_ = sqlite3_column_count(h);
  return true;
}

void SQLResultSet::close() {
  if (_statement) {
    _statement->reset();
    _statement->setInUse(false);
    _statement.reset();
  }
  columnCount_ = 0;
  if (_parentDB) {
    // The connection may go with this last reference; it must not see this set as open then.
    std::shared_ptr<SQLDatabase> parent = std::move(_parentDB);
    _parentDB.reset();
    parent->resultSetDidClose(this);
  }
}

bool SQLResultSet::hasAnotherRow() const {
  return _parentDB && _parentDB->sqliteHandle() &&
         sqlite3_errcode(_parentDB->sqliteHandle()) == SQLITE_ROW;
}

int SQLResultSet::columnCount() const {
  sqlite3_stmt* h = handle();
  return h ? sqlite3_column_count(h) : 0;
}

void SQLResultSet::setupColumnNames() {
  sqlite3_stmt* h = handle();
  int count = h ? sqlite3_column_count(h) : 0;
  for (int i = 0; i < count; ++i) {
    const char* name = sqlite3_column_name(h, i);
    _columnNameToIndexMap.insert_or_assign(std::string(name ? name : ""), i);
  }
  for (const auto& [key, index] : _columnNameToIndexMap) columnOrder_.emplace_back(key, index);
  std::sort(columnOrder_.begin(), columnOrder_.end(),
            [](const auto& a, const auto& b) { return a.second < b.second; });
  _columnNamesSetup = true;
}

const SQLResultSet::ColumnMap& SQLResultSet::columnNameToIndexMap() {
  if (!_columnNamesSetup) setupColumnNames();
  return _columnNameToIndexMap;
}

int SQLResultSet::columnIndexForName(std::string_view columnName) {
  if (!_columnNamesSetup) setupColumnNames();
  size_t count = columnOrder_.size();
  size_t at = lookupHint_ < count ? lookupHint_ : 0;
  // The common loop names the columns in order and in their own spelling: one plain comparison.
  if (at < count && columnOrder_[at].first == columnName) {
    lookupHint_ = at + 1;
    return columnOrder_[at].second;
  }
  CaseInsensitiveEqual equal;
  for (size_t step = 0; step < count; ++step, ++at) {
    if (at == count) at = 0;
    if (equal(columnOrder_[at].first, columnName)) {
      lookupHint_ = at + 1;
      return columnOrder_[at].second;
    }
  }
  return -1;
}

std::string SQLResultSet::columnNameForIndex(int columnIdx) const {
  sqlite3_stmt* h = readable(columnIdx);
  const char* name = h ? sqlite3_column_name(h, columnIdx) : nullptr;
  return name ? name : "";
}

sqlite3_stmt* SQLResultSet::readable(int columnIdx) const {
  if (columnIdx < 0 || columnIdx >= columnCount_) return nullptr;
  return handle();
}

int SQLResultSet::intForColumnIndex(int columnIdx) const {
  sqlite3_stmt* h = readable(columnIdx);
  return h ? sqlite3_column_int(h, columnIdx) : 0;
}

long SQLResultSet::longForColumnIndex(int columnIdx) const {
  return static_cast<long>(longLongIntForColumnIndex(columnIdx));
}

long long SQLResultSet::longLongIntForColumnIndex(int columnIdx) const {
  sqlite3_stmt* h = readable(columnIdx);
  return h ? sqlite3_column_int64(h, columnIdx) : 0;
}

bool SQLResultSet::boolForColumnIndex(int columnIdx) const {
  return intForColumnIndex(columnIdx) != 0;
}

double SQLResultSet::doubleForColumnIndex(int columnIdx) const {
  sqlite3_stmt* h = readable(columnIdx);
  return h ? sqlite3_column_double(h, columnIdx) : 0.0;
}

bool SQLResultSet::columnIndexIsNull(int columnIdx) const {
  sqlite3_stmt* h = readable(columnIdx);
  return !h || sqlite3_column_type(h, columnIdx) == SQLITE_NULL;
}

std::optional<std::string> SQLResultSet::stringForColumnIndex(int columnIdx) const {
  const char* text = UTF8StringForColumnIndex(columnIdx);
  if (!text) return std::nullopt;
  return std::string(text, static_cast<size_t>(sqlite3_column_bytes(handle(), columnIdx)));
}

const char* SQLResultSet::UTF8StringForColumnIndex(int columnIdx) const {
  // SQLite answers a null pointer for a NULL column, so no separate type check is needed.
  sqlite3_stmt* h = readable(columnIdx);
  return h ? reinterpret_cast<const char*>(sqlite3_column_text(h, columnIdx)) : nullptr;
}

std::optional<platform::Date> SQLResultSet::dateForColumnIndex(int columnIdx) const {
  if (columnIndexIsNull(columnIdx)) return std::nullopt;
  return platform::dateFromSeconds(doubleForColumnIndex(columnIdx));
}

std::optional<platform::Bytes> SQLResultSet::dataForColumnIndex(int columnIdx) const {
  auto bytes = dataNoCopyForColumnIndex(columnIdx);
  if (!bytes) return std::nullopt;
  return platform::Bytes(bytes->begin(), bytes->end());
}

std::optional<std::span<const std::uint8_t>> SQLResultSet::dataNoCopyForColumnIndex(
    int columnIdx) const {
  if (columnIndexIsNull(columnIdx)) return std::nullopt;
  sqlite3_stmt* h = handle();
  auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(h, columnIdx));
  auto size = static_cast<size_t>(sqlite3_column_bytes(h, columnIdx));
  if (!data) return std::span<const std::uint8_t>();
  return std::span<const std::uint8_t>(data, size);
}

platform::Value SQLResultSet::objectForColumnIndex(int columnIdx) const {
  sqlite3_stmt* h = readable(columnIdx);
  if (!h) return platform::Value();
  switch (sqlite3_column_type(h, columnIdx)) {
    case SQLITE_INTEGER:
      return platform::Value(static_cast<long long>(sqlite3_column_int64(h, columnIdx)));
    case SQLITE_FLOAT:
      return platform::Value(sqlite3_column_double(h, columnIdx));
    case SQLITE_BLOB:
      return platform::Value(*dataForColumnIndex(columnIdx));
    case SQLITE_TEXT: {
      auto text = stringForColumnIndex(columnIdx);
      return text ? platform::Value(std::move(*text)) : platform::Value();
    }
    default:
      return platform::Value();
  }
}

int SQLResultSet::intForColumn(std::string_view columnName) {
  return intForColumnIndex(columnIndexForName(columnName));
}
long SQLResultSet::longForColumn(std::string_view columnName) {
  return longForColumnIndex(columnIndexForName(columnName));
}
long long SQLResultSet::longLongIntForColumn(std::string_view columnName) {
  return longLongIntForColumnIndex(columnIndexForName(columnName));
}
bool SQLResultSet::boolForColumn(std::string_view columnName) {
  return boolForColumnIndex(columnIndexForName(columnName));
}
double SQLResultSet::doubleForColumn(std::string_view columnName) {
  return doubleForColumnIndex(columnIndexForName(columnName));
}
std::optional<std::string> SQLResultSet::stringForColumn(std::string_view columnName) {
  return stringForColumnIndex(columnIndexForName(columnName));
}
const char* SQLResultSet::UTF8StringForColumnName(std::string_view columnName) {
  return UTF8StringForColumnIndex(columnIndexForName(columnName));
}
std::optional<platform::Date> SQLResultSet::dateForColumn(std::string_view columnName) {
  return dateForColumnIndex(columnIndexForName(columnName));
}
std::optional<platform::Bytes> SQLResultSet::dataForColumn(std::string_view columnName) {
  return dataForColumnIndex(columnIndexForName(columnName));
}
std::optional<std::span<const std::uint8_t>> SQLResultSet::dataNoCopyForColumn(
    std::string_view columnName) {
  return dataNoCopyForColumnIndex(columnIndexForName(columnName));
}
bool SQLResultSet::columnIsNull(std::string_view columnName) {
  return columnIndexIsNull(columnIndexForName(columnName));
}
platform::Value SQLResultSet::objectForColumnName(std::string_view columnName) {
  return objectForColumnIndex(columnIndexForName(columnName));
}

std::optional<platform::Dictionary> SQLResultSet::resultDict() {
  sqlite3_stmt* h = handle();
  if (!h || sqlite3_data_count(h) < 1) return std::nullopt;
  if (!_columnNamesSetup) setupColumnNames();
  platform::Dictionary dict;
  for (const auto& [name, index] : _columnNameToIndexMap) {
    dict[lowered(name)] = objectForColumnIndex(index);
  }
  return dict;
}

void SQLResultSet::kvcMagic(
    const std::function<void(const std::string& key, const std::string& value)>& setValueForKey) {
  int count = columnCount();
  for (int i = 0; i < count; ++i) {
    const char* text = UTF8StringForColumnIndex(i);
    if (text) setValueForKey(columnNameForIndex(i), text);
  }
}
