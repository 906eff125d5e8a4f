#include "dao/Single.h"

#include "platform/foundation/Paths.h"

std::shared_ptr<Single> Single::getInstance() {
  static auto* instance = new std::shared_ptr<Single>(std::make_shared<Single>());
  return *instance;
}

std::shared_ptr<SQLDatabase> Single::loadDB(const std::string& folder, const std::string& dbName) {
  auto db = SQLDatabase::databaseWithPath(platform::Paths::join(folder, dbName));
  if (!db->open()) return nullptr;
  return db;
}

model::Number Single::userId() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return _userId;
}

void Single::setUserId(model::Number userId) {
  std::lock_guard<std::mutex> lock(mutex_);
  _userId = userId;
}
