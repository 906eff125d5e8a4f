#pragma once
// ApplicationServices: the long-lived shared objects of the application delegate, made at launch
// and kept for the whole run, which every screen reaches through the shared application's
// delegate: the course API client, the lecture download queue, the store facade, the download
// rows and, from the first offline play on, the local media server. The application delegate is
// one of these; a test of a screen may install its own with objects of its choosing.
//
// They also record every finished download in the download rows, from launch to the end of the
// run, and keep the study time the device could not store until it can (StudyTimeBacklog).
//
// Main thread only, like the screens that use it.

#include <memory>

#include "dao/DBService.h"
#include "dao/DownloadDao.h"
#include "download/DownloadManager.h"
#include "localserver/LocalHttpServer.h"
#include "net/NetworkEngine.h"
#include "platform/ui/Application.h"
#include "screens/common/DownloadFinishRecorder.h"
#include "studytime/StudyTimeBacklog.h"

class ApplicationServices : public platform::ApplicationDelegate {
 public:
  // The shared application's delegate as these services; null when there is none of this kind.
  static std::shared_ptr<ApplicationServices> shared();

  const std::shared_ptr<NetworkEngine>& netWork() const { return _netWork; }
  void setNetWork(std::shared_ptr<NetworkEngine> v) { _netWork = std::move(v); }
  const std::shared_ptr<DownloadManager>& downloadManager() const { return _downloadManager; }
  void setDownloadManager(std::shared_ptr<DownloadManager> v) { _downloadManager = std::move(v); }
  const std::shared_ptr<DBService>& dbService() const { return _dbService; }
  void setDbService(std::shared_ptr<DBService> v) { _dbService = std::move(v); }
  const std::shared_ptr<DownloadDao>& downloadDao() const { return _downloadDao; }
  void setDownloadDao(std::shared_ptr<DownloadDao> v) { _downloadDao = std::move(v); }
  // Absent until the first offline play makes it.
  const std::shared_ptr<LocalHttpServer>& httpServer() const { return _httpServer; }
  void setHttpServer(std::shared_ptr<LocalHttpServer> v) { _httpServer = std::move(v); }
  // When set at the next return to the foreground, the course screens are asked to reload.
  bool refreshViewFlag() const { return _refreshViewFlag; }
  void setRefreshViewFlag(bool v) { _refreshViewFlag = v; }

  // Decides again, on the next turn of the main queue, whether the screen may dim while lectures
  // download. The screens call it after they change the download queue in a way that posts
  // nothing (pausing, logging out); a delegate that does not watch the idle timer ignores it.
  virtual void updateIdleTimer() {}

  // The players' study-time writer, for the whole run.
  const std::shared_ptr<StudyTimeBacklog>& studyTimeBacklog() const { return studyTimeBacklog_; }

 protected:
  std::shared_ptr<NetworkEngine> _netWork;
  std::shared_ptr<DownloadManager> _downloadManager;
  std::shared_ptr<DBService> _dbService;
  std::shared_ptr<DownloadDao> _downloadDao;
  std::shared_ptr<LocalHttpServer> _httpServer;
  bool _refreshViewFlag = false;
  // Our own.
  DownloadFinishRecorder downloadFinishRecorder_;
  std::shared_ptr<StudyTimeBacklog> studyTimeBacklog_ = std::make_shared<StudyTimeBacklog>();
};
