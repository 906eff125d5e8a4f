#include "sqlite/SQLStatement.h"

#include <cstdio>

SQLStatement::~SQLStatement() { close(); }

void SQLStatement::close() {
  if (_statement) sqlite3_finalize(_statement);
  _statement = nullptr;
  inUse_ = false;
}

void SQLStatement::reset() {
  if (_statement) sqlite3_reset(_statement);
}

std::string SQLStatement::description() const {
  char self[64];
  std::snprintf(self, sizeof self, "<SQLStatement: %p>", static_cast<const void*>(this));
  return std::string(self) + " " + std::to_string(_useCount) + " hit(s) for query " + _query;
}
