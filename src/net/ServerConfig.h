#pragma once
// ServerConfig: the deployment values of the remote endpoints. Each has a compiled-in default
// and can be moved by the environment (a scripted run against the fake course server) or, in
// tests, by a setter:
// - the course API host, "CHENGHENG_API_HOST" (requests go to "http://<host>/api/<request>");
// - the web host the lecture downloader watches for reachability, "CHENGHENG_WEB_HOST";
// - the lecture media server's base address: a lecture whose video URL is this base followed
//   by "null" has no video for mobile devices.
// A setter's value wins over the environment; setting an empty text returns to it.

#include <string>

class ServerConfig {
 public:
  static std::string apiHost();
  static std::string webHost();
  static std::string mediaBaseURL();

  static void setApiHost(const std::string& host);
  static void setWebHost(const std::string& host);
  static void setMediaBaseURL(const std::string& url);
};
