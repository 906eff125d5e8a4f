#pragma once
// TAGDataProvider: the pixel-hit store, the SQLite file "TM.sql" in the Library folder with one
// table TAGHit (dispatchURL, timestamp, dispatchTime, retryCount; row ids never reused). Every
// save that has changes first deletes hits stored 30 days ago or earlier and then the oldest
// beyond 2000, so after it the store holds at most 2000 hits, none that old. A fetch does not
// apply the limits. Hits that never failed are handed out before failed ones.
//
// All store work runs on TAGThread (TAGDispatchUtil); callers on other threads only post it, and
// only `onExit` (the application resigning active or terminating) waits. A store file that
// cannot be opened is deleted and made afresh once; if that fails too, every step works on
// nothing. `hasHits` starts false, turns true once opening has been tried (so a first dispatch
// looks for hits of an earlier run), then follows fetches and saves; its observer hears every
// change, on TAGThread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/SharedObject.h"
#include "sqlite/SQLDatabase.h"
#include "tagmanager/pixel/TAGHit.h"

class TAGDataProvider : public std::enable_shared_from_this<TAGDataProvider> {
  CH_SHARED_OBJECT(TAGDataProvider)

 public:
  using HitList = std::vector<TAGHit>;

  // Opens the store ("TM.sql") in the background.
  static std::shared_ptr<TAGDataProvider> init();
  ~TAGDataProvider();

  void addHitWithURLString(const std::string& url);
  // `completion` runs on TAGThread with up to `limit` hits (0: all): those that never failed
  // first, then the failed ones, each oldest first.
  void fetchHitsWithLimit(std::uint32_t limit, std::function<void(const HitList&)> completion);
  void deleteHits(const HitList& hits);
  // Stamps the first failure time of each hit that has none.
  void updateFailedHits(const HitList& hits);
  // Saves on TAGThread and waits for it.
  void onExit();

  // TAGThread only (asserted): enforce the limits and mark the store saved when it has
  // changes.
  void save();
  bool deleteExcessHits(platform::Error* error);
  std::int64_t hitCount(platform::Error* error);

  bool hasHits() const { return _hasHits.load(); }
  void setHasHitsObserver(std::function<void()> observer);

  std::uint32_t maxHitCount() const { return _maxHitCount.load(); }
  void setMaxHitCount(std::uint32_t count) { _maxHitCount = count; }
  double maxHitAge() const { return _maxHitAge.load(); }
  void setMaxHitAge(double seconds) { _maxHitAge = seconds; }

  // TAGThread only (asserted): the open store, null when opening failed.
  const std::shared_ptr<SQLDatabase>& context() const;

 protected:
  TAGDataProvider() = default;

 private:
  static std::shared_ptr<SQLDatabase> contextWithPath(const std::optional<std::string>& path);
  void openStore();
  void setHasHits(bool value);
  bool deleteWhere(const std::string& condition, double argument);

  std::atomic<std::uint32_t> _maxHitCount{2000};
  std::atomic<double> _maxHitAge{2592000.0};
  std::atomic<bool> _hasHits{false};

  // Owned by TAGThread: every function that touches them asserts it runs there.
  std::shared_ptr<SQLDatabase> _context;
  bool hasChanges_ = false;
  std::function<void()> hasHitsObserver_;

  std::unique_ptr<platform::NotificationCenter::Token> resignToken_;
  std::unique_ptr<platform::NotificationCenter::Token> terminateToken_;
};
