#pragma once
// ServerConfig: the deployment values of the remote endpoints. Each has a compiled-in default;
// the two hosts can be moved by the environment (a scripted run against the fake course server):
// - the course API host, "CHENGHENG_API_HOST" (requests go to "http://<host>/api/<request>");
// - the web host the lecture downloader watches for reachability, "CHENGHENG_WEB_HOST";
// - the lecture media server's base address: a lecture whose video URL is this base followed
//   by "null" has no video for mobile devices. The course detail and player screens apply that
//   rule; nothing calls it yet.

#include <string>

class ServerConfig {
 public:
  static std::string apiHost();
  static std::string webHost();
  static std::string mediaBaseURL();
};
