#pragma once
// DownloadFinishRecorder: marks a lecture's download row finished (state 1) on every
// "cell_finish", whether or not a download list shows the lecture, so a lecture that finishes
// off screen plays from the device and is not downloaded again. It lives as long as the
// application's shared objects. The row is found by the finished lecture's download key (year and
// lecture) and the login model's user and region. Main thread only, like the notices it hears.

#include <memory>

#include "dao/DownloadDao.h"
#include "platform/foundation/NotificationCenter.h"

class DownloadFinishRecorder {
 public:
  DownloadFinishRecorder();
  DownloadFinishRecorder(const DownloadFinishRecorder&) = delete;
  DownloadFinishRecorder& operator=(const DownloadFinishRecorder&) = delete;

  void cellFinish(const platform::Notification& notification);

 private:
  // Made on the first notice: the database lies under the home of the login, not of the launch.
  std::unique_ptr<DownloadDao> dao_;
  platform::ObserverToken observer_;
};
