#pragma once
// Helpers for container tests: a container callback that records what it hears ("begin:<type>",
// "success:<type>", "failure:<failure>:<type>"), a loopback container server that answers with
// a given resource, and saved copies written as a container would write them.

#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Mutex.h"
#include "support/ScriptedServer.h"
#include "tagmanager/TagEventList.h"
#include "tagmanager/base/TAGServerConfig.h"
#include "tagmanager/container/TAGContainerCallback.h"
#include "tagmanager/container/TAGResourceStorageImpl.h"

namespace testsupport {

class ContainerCallbackRecorder : public TAGContainerCallback {
 public:
  void containerRefreshBegin(const std::shared_ptr<TAGContainer>&, std::int32_t type) override {
    events_.add("begin:" + std::to_string(type));
  }
  void containerRefreshSuccess(const std::shared_ptr<TAGContainer>&, std::int32_t type) override {
    events_.add("success:" + std::to_string(type));
  }
  void containerRefreshFailure(const std::shared_ptr<TAGContainer>&, std::int32_t failure,
                               std::int32_t type) override {
    events_.add("failure:" + std::to_string(failure) + ":" + std::to_string(type));
  }
  std::vector<std::string> events() const { return events_.events(); }
  bool heard(const std::string& event) const { return events_.heard(event); }

 private:
  TagEventList events_;
};

// The container server on loopback: answers every fetch with `answer()` (settable), and is the
// configured server while it lives.
class ContainerServer {
 public:
  ContainerServer()
      : server_([this](const ScriptedRequest&) {
          platform::MutexLock lock(mutex_);
          return reply_;
        }) {
    TAGServerConfig::setContainerServer("http://127.0.0.1:" + std::to_string(server_.port()));
  }
  ~ContainerServer() { TAGServerConfig::setContainerServer(""); }

  void answer(ScriptedReply reply) {
    platform::MutexLock lock(mutex_);
    reply_ = std::move(reply);
  }
  void answerResource(const tagpb::TAGPResource& resource) {
    tagpb::TAGPOptionalResource optional;
    *optional.mutable_resource() = resource;
    answer(ScriptedReply::text(200, optional.SerializeAsString()));
  }
  ScriptedServer& server() { return server_; }
  std::size_t requestCount() const { return server_.requestCount(); }
  std::vector<ScriptedRequest> requests() const { return server_.requests(); }

 private:
  platform::Mutex mutex_;
  ScriptedReply reply_ GUARDED_BY(mutex_) = ScriptedReply::text(404, "");
  ScriptedServer server_;
};

inline void writeSavedCopy(const std::string& containerId, const tagpb::TAGPResource& resource,
                           double timeStampMs) {
  tagpb::TAGPResourceWithMetadata saved;
  saved.set_time_stamp(static_cast<std::int64_t>(timeStampMs));
  *saved.mutable_resource() = resource;
  TAGResourceStorageImpl::create(containerId)->saveResourceToDisk(saved);
}

}  // namespace testsupport
