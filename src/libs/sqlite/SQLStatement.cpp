#include "sqlite/SQLStatement.h"

#include <cstdio>

SQLStatement::~SQLStatement() { close(); }

void SQLStatement::close() {
  if (statement_) sqlite3_finalize(statement_);
  statement_ = nullptr;
  inUse_ = false;
}

void SQLStatement::reset() {
  if (statement_) sqlite3_reset(statement_);
}

std::string SQLStatement::description() const {
  char self[64];
  std::snprintf(self, sizeof self, "<SQLStatement: %p>", static_cast<const void*>(this));
  return std::string(self) + " " + std::to_string(useCount_) + " hit(s) for query " + query_;
}
