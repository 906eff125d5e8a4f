#pragma once
// NetService: a service announcement (domain, type, name, port and TXT data), as the media
// server publishes itself. This platform announces nothing on the network: a device's
// lectures are for its own player only, so `publish` always fails, telling the delegate
// `netServiceDidNotPublish` with an error dictionary, on the run loop the service is scheduled
// on. Everything else keeps what it was given.
//
// Used from the thread whose run loop it is scheduled on.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Value.h"

namespace platform {

class NetService;

inline constexpr const char* kNetServicesErrorCode = "NSNetServicesErrorCode";
inline constexpr const char* kNetServicesErrorDomain = "NSNetServicesErrorDomain";
// The platform's "unknown error" code of announcements.
inline constexpr int kNetServicesUnknownError = -72000;

class NetServiceDelegate {
 public:
  virtual ~NetServiceDelegate() = default;
  virtual void netServiceDidPublish(NetService& sender) { (void)sender; }
  virtual void netServiceDidNotPublish(NetService& sender, const Dictionary& errorDict) {
    (void)sender;
    (void)errorDict;
  }
};

class NetService : public std::enable_shared_from_this<NetService> {
 public:
  // `name` empty: the device's name would be used.
  static std::shared_ptr<NetService> create(std::string domain, std::string type, std::string name,
                                            int port);

  const std::string& domain() const { return domain_; }
  const std::string& type() const { return type_; }
  const std::string& name() const { return name_; }
  int port() const { return port_; }

  void setDelegate(std::weak_ptr<NetServiceDelegate> delegate) { delegate_ = std::move(delegate); }
  // TXT data (absent: none); true when kept.
  bool setTXTRecordData(std::optional<Bytes> data);
  const std::optional<Bytes>& TXTRecordData() const { return txtRecordData_; }
  // The TXT record form of a dictionary: one length-prefixed "key=value" string per entry
  // (texts and bytes as given, other values as their text), entries longer than 255 bytes left
  // out.
  static Bytes dataFromTXTRecordDictionary(const Dictionary& txtDictionary);

  void scheduleInRunLoop(std::shared_ptr<RunLoop> runLoop) { runLoop_ = std::move(runLoop); }
  void removeFromRunLoop() { runLoop_.reset(); }

  void publish();
  void stop();

 private:
  NetService(std::string domain, std::string type, std::string name, int port);

  const std::string domain_;
  const std::string type_;
  const std::string name_;
  const int port_;
  std::weak_ptr<NetServiceDelegate> delegate_;
  std::optional<Bytes> txtRecordData_;
  std::shared_ptr<RunLoop> runLoop_;
  bool published_ = false;
};

}  // namespace platform
