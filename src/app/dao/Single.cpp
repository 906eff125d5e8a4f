#include "dao/Single.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/foundation/Paths.h"

namespace {

// Creates the file owner-only if it does not exist yet, and narrows one that is open to others,
// before SQLite opens it (SQLite would create it 0644 less the umask).
void restrictToOwner(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
  if (fd < 0) return;  // SQLite's own open reports the failure
  struct stat info;
  if (::fstat(fd, &info) == 0 && (info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    ::fchmod(fd, info.st_mode & ~(S_IRWXG | S_IRWXO));
  }
  ::close(fd);
}

}  // namespace

std::shared_ptr<Single> Single::getInstance() {
  static auto* instance = new std::shared_ptr<Single>(std::make_shared<Single>());
  return *instance;
}

std::shared_ptr<SQLDatabase> Single::loadDB(const std::string& folder, const std::string& dbName) {
  std::string path = platform::Paths::join(folder, dbName);
  restrictToOwner(path);
  auto db = SQLDatabase::databaseWithPath(path);
  if (!db->open()) return nullptr;
  return db;
}

model::Number Single::userId() const {
  platform::MutexLock lock(mutex_);
  return _userId;
}

void Single::setUserId(model::Number userId) {
  platform::MutexLock lock(mutex_);
  _userId = userId;
}
