#pragma once
// NetworkStatusSource: where NetWorkUtil learns whether a network is there. The application
// installs ReachabilityNetworkStatus at launch; until then the default answers "reachable over
// WiFi", so screens never refuse to ask the server only because nobody installed a source.

class NetworkStatusSource {
 public:
  // Reachability status values.
  static constexpr int kNotReachable = 0;
  static constexpr int kReachableViaWWAN = 1;
  static constexpr int kReachableViaWiFi = 2;

  virtual ~NetworkStatusSource() = default;
  // The status of the internet connection (the default route) at this moment.
  virtual int currentReachabilityStatus() const = 0;
};
