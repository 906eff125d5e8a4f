#pragma once
// NetWorkUtil: the quick question asked before every server request: is a network there now?
// Each call asks the installed NetworkStatusSource afresh; nothing is cached and no
// notifications are started. Safe from any thread.

#include <memory>

#include "netstatus/NetworkStatusSource.h"

class NetWorkUtil {
 public:
  // Whether the internet connection is reachable at this moment.
  static bool netWorkIsEnable();
  // 0 not reachable, 1 mobile network, 2 WiFi.
  static int currNetworkState();

  // Installs the source to ask; null puts the always-reachable default back.
  static void setStatusSource(std::shared_ptr<NetworkStatusSource> source);
};
