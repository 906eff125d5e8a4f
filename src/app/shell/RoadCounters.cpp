#include "shell/RoadCounters.h"

#include <sqlite3.h>

#include <filesystem>
#include <numeric>

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
  sampleStudyLog();
  sampleMediaServer();
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
  auto rs = db_->executeQuery("select id, listenedPos from studylog");
  if (!rs) return;  // the table is made with the first data-access object
  std::map<std::int64_t, std::int64_t> now;
  while (rs->next()) now[rs->longLongIntForColumnIndex(0)] = rs->longLongIntForColumnIndex(1);
  rs->close();
  for (const auto& [id, seconds] : now) {
    auto before = rows_.find(id);
    const std::int64_t was = before == rows_.end() ? 0 : before->second;
    if (seconds > was) credited_ += seconds - was;
    if (seconds < was) uploaded_ += was - seconds;
  }
  for (const auto& [id, seconds] : rows_)
    if (!now.count(id)) uploaded_ += seconds;
  rows_ = std::move(now);
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

std::int64_t RoadCounters::studySecondsUnsent() const {
  return std::accumulate(rows_.begin(), rows_.end(), std::int64_t{0},
                         [](std::int64_t sum, const auto& row) { return sum + row.second; });
}

std::uint64_t RoadCounters::mediaRequestsServed() const {
  std::uint64_t total = 0;
  for (const auto& [server, count] : mediaServers_) total += count;
  return total;
}
