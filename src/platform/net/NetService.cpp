#include "platform/net/NetService.h"

namespace platform {

std::shared_ptr<NetService> NetService::create(std::string domain, std::string type,
                                               std::string name, int port) {
  return std::shared_ptr<NetService>(
      new NetService(std::move(domain), std::move(type), std::move(name), port));
}

NetService::NetService(std::string domain, std::string type, std::string name, int port)
    : domain_(std::move(domain)), type_(std::move(type)), name_(std::move(name)), port_(port) {}

bool NetService::setTXTRecordData(std::optional<Bytes> data) {
  txtRecordData_ = std::move(data);
  return true;
}

Bytes NetService::dataFromTXTRecordDictionary(const Dictionary& txtDictionary) {
  Bytes out;
  for (const auto& [key, value] : txtDictionary) {
    std::string entry = key + "=";
    if (const Bytes* bytes = value.asBytes()) {
      entry.append(bytes->begin(), bytes->end());
    } else {
      entry += value.stringValue();
    }
    if (entry.size() > 255) continue;
    out.push_back(static_cast<std::uint8_t>(entry.size()));
    out.insert(out.end(), entry.begin(), entry.end());
  }
  return out;
}

void NetService::publish() {
  if (published_) return;
  published_ = true;
  // Nothing goes on the network; the outcome arrives later, as the platform's would.
  auto report = [weak = weak_from_this()] {
    auto self = weak.lock();
    if (!self || !self->published_) return;
    self->published_ = false;
    if (auto delegate = self->delegate_.lock()) {
      Dictionary error{{kNetServicesErrorCode, Value(kNetServicesUnknownError)},
                       {kNetServicesErrorDomain, Value(10)}};
      delegate->netServiceDidNotPublish(*self, error);
    }
  };
  if (runLoop_) {
    runLoop_->perform(std::move(report));
  } else {
    report();
  }
}

void NetService::stop() { published_ = false; }

}  // namespace platform
