#pragma once
// TAGServerConfig: the tag manager's two deployment values. The container server is the origin
// containers are fetched from ("<origin>/r?id=..."); the pixel host is the host whose
// reachability decides whether stored pixel hits are sent. Each has a compiled-in default, can
// be moved by the environment ("CHENGHENG_TAG_CONTAINER_SERVER", "CHENGHENG_TAG_PIXEL_HOST") or,
// in tests, by a setter, whose value wins; an empty text returns to the environment.
//
// Any thread may call.

#include <string>

class TAGServerConfig {
 public:
  TAGServerConfig() = delete;

  // Scheme and host (and port), no trailing slash.
  static std::string containerServer();
  static void setContainerServer(const std::string& origin);

  // A host name (or address), without scheme.
  static std::string pixelHost();
  static void setPixelHost(const std::string& host);
};
