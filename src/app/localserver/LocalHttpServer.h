#pragma once
// LocalHttpServer: the application's media server. It serves the logged-in user's download
// folder (<Documents>/<user id>) over HTTP on port 12345 (CHENGHENG_MEDIA_PORT when set; 0 lets
// the system choose), so the player can stream a downloaded lecture from
// "http://127.0.0.1:12345/<download key>/<playlist>" and show "<key>/leture.htm" beside it.
//
// It listens on the loopback addresses only (127.0.0.1 and ::1): the lectures are the user's,
// and nothing but this device's player should read them. Its service announcement stays on the
// device (the platform announces nothing on the network).
//
// The player makes one, and before each offline play, when `isRunning` answers false, calls
// `setDocumeentRoot` (spelled so) and `start`; closing the player calls `stop`. When the
// configured port is held by someone else, `start` listens on a port the system picks instead,
// and the player addresses the port `listeningPort` names. Other start failures are not
// reported: the player's requests then fail to connect. Any thread.

#include <cstdint>
#include <memory>

class HTTPServer;

inline constexpr std::uint16_t kLocalHttpServerDefaultPort = 12345;

class LocalHttpServer {
 public:
  LocalHttpServer();
  ~LocalHttpServer();
  LocalHttpServer(const LocalHttpServer&) = delete;
  LocalHttpServer& operator=(const LocalHttpServer&) = delete;

  // Listens on the configured port, or on a free one when that is held.
  void start();
  bool isRunning();
  // The port the server listens on while it runs, else 0.
  std::uint16_t listeningPort();
  // Points the server at the current user's download folder again, so a user change between
  // plays is honoured.
  void setDocumeentRoot();
  // Stops listening and closes every connection; harmless when not running.
  void stop();

  const std::shared_ptr<HTTPServer>& httpServer() const { return _httpServer; }
  void setHttpServer(std::shared_ptr<HTTPServer> httpServer) {
    _httpServer = std::move(httpServer);
  }

  // Responses written out whole since this server was made, over all its starts.
  std::uint64_t requestsServed() const;

  // The port configured for the server: CHENGHENG_MEDIA_PORT when it holds a port number,
  // else 12345.
  static std::uint16_t configuredPort();

 private:
  std::shared_ptr<HTTPServer> _httpServer;
};
