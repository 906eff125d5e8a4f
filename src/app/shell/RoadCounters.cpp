#include "shell/RoadCounters.h"

#include <sqlite3.h>

#include <filesystem>

#include "dao/BaseDao.h"
#include "download/DownloadManager.h"
#include "download/DownloadNotifications.h"
#include "localserver/LocalHttpServer.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/Thread.h"
#include "screens/common/ApplicationServices.h"
#include "sqlite/SQLDatabase.h"
#include "sqlite/SQLResultSet.h"

namespace {

std::uint64_t folderSize(const std::filesystem::path& folder) {
  std::error_code ec;
  std::uint64_t total = 0;
  for (std::filesystem::recursive_directory_iterator it(folder, ec), end; !ec && it != end;
       it.increment(ec)) {
    if (it->is_regular_file(ec)) total += it->file_size(ec);
  }
  return total;
}

}  // namespace

RoadCounters::RoadCounters() {
  finishToken_ = platform::NotificationCenter::defaultCenter().addObserver(
      kCellFinish, [this](const platform::Notification& n) { lectureFinished(n); });
}

RoadCounters::~RoadCounters() = default;

void RoadCounters::lectureFinished(const platform::Notification& notification) {
  auto services = ApplicationServices::shared();
  if (!services || !services->downloadManager()) return;
  auto key = notification.userInfo.find(kCwIdKey);
  if (key == notification.userInfo.end() || !key->second.asText()) return;
  // The queue moves the finished lecture into place before it tells the screens.
  bytesDownloaded_ += folderSize(
      std::filesystem::path(services->downloadManager()->downloadToPath()) / *key->second.asText());
}

void RoadCounters::sample() {
  platform::assertMainThread("RoadCounters::sample");
  sampleStudyTime();
  sampleStudyLog();
  sampleMediaServer();
}

void RoadCounters::sampleStudyTime() {
  auto services = ApplicationServices::shared();
  if (!services) return;
  const std::int64_t written = services->studyTimeBacklog()->secondsWritten();
  if (!writtenAtStart_) writtenAtStart_ = written;
  credited_ = written - *writtenAtStart_;
  if (!services->netWork()) return;
  const std::int64_t accepted = services->netWork()->minutesAccepted();
  if (!acceptedAtStart_) acceptedAtStart_ = accepted;
  sent_ = accepted - *acceptedAtStart_;
}

void RoadCounters::sampleStudyLog() {
  if (!db_) {
    const std::string path =
        platform::Paths::join(platform::Paths::documents(), BaseDao::kDatabaseName);
    if (!std::filesystem::exists(path)) return;  // nothing stored yet
    auto db = SQLDatabase::databaseWithPath(path);
    if (!db->openWithFlags(SQLITE_OPEN_READONLY)) return;
    db_ = db;
  }
  auto rs = db_->executeQuery("select sum(listenedPos) from studylog");
  if (!rs) return;  // the table is made with the first data-access object
  if (rs->next()) kept_ = rs->longLongIntForColumnIndex(0);
  rs->close();
}

void RoadCounters::sampleMediaServer() {
  auto services = ApplicationServices::shared();
  auto server = services ? services->httpServer() : nullptr;
  if (!server) return;
  for (auto& [seen, count] : mediaServers_) {
    if (seen.lock() == server) {
      count = server->requestsServed();
      return;
    }
  }
  mediaServers_.emplace_back(server, server->requestsServed());
}

std::uint64_t RoadCounters::mediaRequestsServed() const {
  std::uint64_t total = 0;
  for (const auto& [server, count] : mediaServers_) total += count;
  return total;
}
