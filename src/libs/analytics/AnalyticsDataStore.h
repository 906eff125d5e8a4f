#pragma once
// AnalyticsDataStore: the analytics hits waiting to be sent, and the client id, in two SQLite
// files of the Library folder, open side by side for the whole run:
// - "analytics-v3.sql", the current store (table AnalyticsHit), where every new hit goes;
// - "analytics-v2.sql", the old store (tables AnalyticsProperty and AnalyticsHit): it keeps the
//   client id (the property "ClientId") and any hits an older version left. While it holds hits,
//   they are fetched and sent first; hits older than 30 days are dropped from it at start.
//
// Hits go in as {"timestamp": date (now when missing), "parameters": dictionary} and come back
// oldest first as {"timestamp", "parameters", "objectID"}; the object id (text) deletes them. A
// stored row whose parameters no longer decode is deleted with an error line when it is met, so
// one bad row cannot stop every fetch. Ids are never reused. `save` enforces the cap of
// `maxHitCount` hits (2000; 0: none) by deleting the oldest.
//
// A store file that cannot be opened (not a database, or not our tables) is deleted, with a
// warning, and made afresh once; when that fails too, set-up fails and every operation gives
// nothing (false, -1, absent) without an error.
//
// Every store saves at the application's terminate or resign notification, and at any other
// orderly end of the process (`main` returning, `exit`): hits handed to the analytics thread
// before are then stored first. The save at exit waits kExitSaveBound at most (real time).
//
// Threads: all SQLite work runs on the analytics thread ("AnalyticsThread"). Calls from other
// threads are carried over to it and wait for the result; set-up is queued there when the store
// is made, and runs before any other work of the store. An exception inside an operation becomes
// an error of "NSSQLiteErrorDomain", code -1. Errors go to the caller's `error`, or are logged as
// "Datastore error: ..." when the caller gave none.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/Mutex.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/Value.h"

class SQLDatabase;

class AnalyticsDataStore : public std::enable_shared_from_this<AnalyticsDataStore> {
 public:
  using ErrorOut = std::optional<platform::Error>*;

  static constexpr const char* kCurrentStoreName = "analytics-v3.sql";
  static constexpr const char* kOldStoreName = "analytics-v2.sql";
  static constexpr double kStaleHitAge = 2592000.0;  // 30 days
  static constexpr std::chrono::seconds kExitSaveBound{5};

  // A new store; its set-up is queued on the analytics thread.
  static std::shared_ptr<AnalyticsDataStore> dataStore();
  // The Library folder with `name` appended.
  static std::optional<std::string> databaseFullPath(const std::string& name);
  static std::optional<std::string> databaseFullURL(const std::string& name);
  static std::shared_ptr<platform::Thread> thread();
  // The parameters of a stored row: a JSON object whose texts and nulls are kept (other members
  // are left out); the old store's keys get their "&" back. Absent when the text is no JSON
  // object, or nests deeper than JSON from outside may.
  static std::optional<platform::Dictionary> decodeStoredParameters(std::string_view text,
                                                                    bool oldStore);

  ~AnalyticsDataStore();
  AnalyticsDataStore(const AnalyticsDataStore&) = delete;
  AnalyticsDataStore& operator=(const AnalyticsDataStore&) = delete;

  void addHit(const platform::Dictionary& hit);
  // Up to `limit` hits (0: all), oldest first; absent on failure.
  std::optional<std::vector<platform::Dictionary>> fetchHitsWithLimit(unsigned limit,
                                                                      ErrorOut error = nullptr);
  // Deletes what it finds; false (with the lookup error) when some id named no hit.
  bool deleteHitsWithIds(const std::vector<std::string>& ids, ErrorOut error = nullptr);
  bool deleteAllHits(ErrorOut error = nullptr);
  // Hits in both stores; -1 on failure.
  std::int64_t hitCount(ErrorOut error = nullptr);
  bool save(ErrorOut error = nullptr);

  // The client id once set-up has run (absent when it failed).
  std::optional<std::string> clientId() EXCLUDES(mutex_);
  void setClientId(const std::string& clientId) EXCLUDES(mutex_);

  // Whether set-up succeeded (false until it has run).
  bool setUpCoreData() const { return setUp_.load(); }
  unsigned maxHitCount() const { return _maxHitCount.load(); }
  void setMaxHitCount(unsigned count) { _maxHitCount.store(count); }
  // Whether fetches and single deletions go to the old store (it still holds hits).
  bool currentContextIsOld() const { return currentIsOld_.load(); }

  struct Context;

 private:
  AnalyticsDataStore();

  // Runs `block` on the analytics thread (after set-up) and hands its error on; gives `failed`
  // when set-up failed or the block threw.
  template <class R>
  R performBlockAndWait(const std::function<R(std::optional<platform::Error>&)>& block, R failed,
                        ErrorOut error);
  void requireThread() const;
  // Registers the save at exit (once per process) and lists `store` for it.
  static void rememberForExit(const std::shared_ptr<AnalyticsDataStore>& store);
  // The save at exit of every store still alive.
  static void saveAllAtExit();

  // On the analytics thread.
  void setUpCoreDataOnThread();
  std::shared_ptr<Context> contextWithModel(const char* name);
  Context& currentContext();
  std::int64_t countHits(Context& context, std::optional<platform::Error>& error);
  std::optional<std::vector<platform::Dictionary>> fetchHits(Context& context, unsigned limit,
                                                             std::optional<platform::Error>& error);
  bool deleteIds(Context& context, const std::vector<std::int64_t>& rowIds,
                 std::optional<platform::Error>& error);
  bool removeStaleHits(Context& context, std::optional<platform::Error>& error);
  bool deleteExcessHits(std::optional<platform::Error>& error);
  bool saveOnThread(std::optional<platform::Error>& error);
  std::optional<std::string> fetchClientId();
  bool storeClientId(const std::string& clientId, std::optional<platform::Error>& error);

  std::atomic<unsigned> _maxHitCount{2000};
  std::atomic<bool> setUp_{false};
  std::atomic<bool> currentIsOld_{false};

  // Owned by the analytics thread.
  bool setUpAttempted_ = false;
  std::shared_ptr<Context> context_;
  std::shared_ptr<Context> oldContext_;

  // Guarded by mutex_.
  mutable platform::Mutex mutex_;
  std::optional<std::string> _clientId GUARDED_BY(mutex_);

  // Set before start, read-only after.
  std::vector<platform::ObserverToken> observers_;
};
