#include "dao/BaseDao.h"

#include "platform/foundation/Paths.h"

BaseDao::BaseDao()
    : _instance(Single::getInstance()),
      _dbHepler(std::make_shared<DBHelper>()),
      _db(_instance->loadDB(platform::Paths::documents(), kDatabaseName)) {
  _dbHepler->initDB(_db);
}

std::optional<std::string> BaseDao::setTable(const std::string& sql) const {
  (void)sql;
  return std::nullopt;
}

std::string BaseDao::withTable(const std::string& sql, const std::string& table) {
  std::string result = sql;
  if (auto at = result.find("%@"); at != std::string::npos) result.replace(at, 2, table);
  return result;
}
