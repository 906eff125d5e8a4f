#pragma once
// A recording delegate for RunLoopSocket tests: it keeps every socket it is handed, records
// what it hears, and answers time-outs and will-connect from settings the test makes.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Error.h"
#include "sockets/runloop/RunLoopSocket.h"

class RecordingSocketDelegate : public RunLoopSocketDelegate {
 public:
  void onSocketDidAcceptNewSocket(const std::shared_ptr<RunLoopSocket>&,
                                  const std::shared_ptr<RunLoopSocket>& newSocket) override {
    accepted.push_back(newSocket);
  }
  bool onSocketWillConnect(const std::shared_ptr<RunLoopSocket>&) override { return allowConnect; }
  void onSocketDidConnectToHost(const std::shared_ptr<RunLoopSocket>& sock, const std::string& host,
                                std::uint16_t port) override {
    connected.push_back({sock.get(), host, port});
  }
  void onSocketWillDisconnectWithError(const std::shared_ptr<RunLoopSocket>& sock,
                                       const std::optional<platform::Error>& error) override {
    willDisconnect.push_back({sock.get(), error});
    auto unread = sock->unreadData();
    unreadAtWillDisconnect.push_back(unread ? std::string(unread->begin(), unread->end()) : "");
  }
  void onSocketDidDisconnect(const std::shared_ptr<RunLoopSocket>& sock) override {
    disconnected.push_back(sock.get());
  }
  void onSocketDidReadData(const std::shared_ptr<RunLoopSocket>& sock, const SocketData& data,
                           long tag) override {
    reads.push_back({sock.get(), data.toString(), tag});
    if (onRead) onRead(sock, data, tag);
  }
  void onSocketDidReadPartialDataOfLength(const std::shared_ptr<RunLoopSocket>&, std::size_t length,
                                          long) override {
    partialReads.push_back(length);
  }
  void onSocketDidWriteDataWithTag(const std::shared_ptr<RunLoopSocket>& sock, long tag) override {
    writes.push_back({sock.get(), tag});
  }
  void onSocketDidSecure(const std::shared_ptr<RunLoopSocket>&) override { ++secured; }
  double onSocketShouldTimeoutReadWithTag(const std::shared_ptr<RunLoopSocket>&, long tag,
                                          double elapsed, std::size_t bytesDone) override {
    timeoutAsks.push_back({tag, elapsed, bytesDone});
    if (extensions.empty()) return 0;
    double next = extensions.front();
    extensions.erase(extensions.begin());
    return next;
  }

  struct Connected {
    RunLoopSocket* sock;
    std::string host;
    std::uint16_t port;
  };
  struct WillDisconnect {
    RunLoopSocket* sock;
    std::optional<platform::Error> error;
  };
  struct Read {
    RunLoopSocket* sock;
    std::string data;
    long tag;
  };
  struct Write {
    RunLoopSocket* sock;
    long tag;
  };
  struct TimeoutAsk {
    long tag;
    double elapsed;
    std::size_t bytesDone;
  };

  bool allowConnect = true;
  int secured = 0;
  std::vector<double> extensions;
  std::function<void(const std::shared_ptr<RunLoopSocket>&, const SocketData&, long)> onRead;
  std::vector<std::shared_ptr<RunLoopSocket>> accepted;
  std::vector<Connected> connected;
  std::vector<WillDisconnect> willDisconnect;
  std::vector<std::string> unreadAtWillDisconnect;
  std::vector<RunLoopSocket*> disconnected;
  std::vector<Read> reads;
  std::vector<std::size_t> partialReads;
  std::vector<Write> writes;
  std::vector<TimeoutAsk> timeoutAsks;
};

// Whether the loopback address of IPv6 can be used here.
bool ipv6LoopbackAvailable();
