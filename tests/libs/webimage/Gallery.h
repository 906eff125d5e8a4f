#pragma once
// A picture server for the web image tests, on the scripted loopback server: PNGs by name
// ("/<w>x<h>/<anything>" gives a w x h picture), "/junk" (bytes that are no picture),
// "/missing" (404), "/cut" (the connection closes mid-body), "/huge" (announces a terabyte and
// closes), "/slow/..." (paced: the body goes
// out only as the test allows) and "/held/..." (held until released). It also records what a
// requester hears.

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/RunLoop.h"
#include "support/Pictures.h"
#include "support/ScriptedServer.h"
#include "webimage/WebImageManager.h"

namespace webimagetest {

using testsupport::ScriptedReply;
using testsupport::ScriptedRequest;
using testsupport::ScriptedServer;

inline ScriptedReply gallery(const ScriptedRequest& r) {
  std::string path = r.path();
  ScriptedReply reply;
  if (path == "/junk") return ScriptedReply::text(200, "no picture here", "image/png");
  if (path == "/missing") return ScriptedReply::text(404, "gone");
  if (path == "/huge") {
    // Announces a terabyte, then closes after a few bytes.
    reply = ScriptedReply::text(200, "abc", "image/png");
    reply.headers.emplace_back("Content-Length", "1000000000000");
    reply.behaviour = ScriptedReply::Behaviour::CloseMidBody;
    return reply;
  }
  if (path.rfind("/slow/", 0) == 0) {
    reply = ScriptedReply::text(200, testsupport::pngBytes(64, 64, 0, true), "image/png");
    reply.behaviour = ScriptedReply::Behaviour::Paced;
    return reply;
  }
  bool held = path.rfind("/held/", 0) == 0;
  if (held) path = path.substr(5);
  int width = 6, height = 4;
  std::sscanf(path.c_str(), "/%dx%d/", &width, &height);
  reply = ScriptedReply::text(200, testsupport::pngBytes(width, height), "image/png");
  if (path == "/cut") reply.behaviour = ScriptedReply::Behaviour::CloseMidBody;
  reply.gated = held;
  return reply;
}

// Everything one requester hears from the manager, in order.
class Recorder : public WebImageManagerDelegate {
 public:
  struct Event {
    std::string kind;  // "finish", "fail", "partial"
    Image image;
    std::optional<platform::Error> error;
    std::string url;
    UserInfo userInfo;
    bool onMain = true;
  };
  std::vector<Event> events;
  int finishCalls = 0;  // of the image-only form
  int failCalls = 0;    // of the error-only form

  void webImageManagerDidFinishWithImage(WebImageManager&, const Image&) override { ++finishCalls; }
  void webImageManagerDidFinishWithImageForURLUserInfo(WebImageManager&, const Image& image,
                                                       const std::string& url,
                                                       const UserInfo& info) override {
    events.push_back({"finish", image, std::nullopt, url, info, platform::RunLoop::isMainThread()});
  }
  void webImageManagerDidFailWithError(WebImageManager&,
                                       const std::optional<platform::Error>&) override {
    ++failCalls;
  }
  void webImageManagerDidFailWithErrorForURLUserInfo(WebImageManager&,
                                                     const std::optional<platform::Error>& error,
                                                     const std::string& url,
                                                     const UserInfo& info) override {
    events.push_back({"fail", nullptr, error, url, info, platform::RunLoop::isMainThread()});
  }
  void webImageManagerDidProgressWithPartialImageForURLUserInfo(WebImageManager&,
                                                                const Image& image,
                                                                const std::string& url,
                                                                const UserInfo& info) override {
    events.push_back(
        {"partial", image, std::nullopt, url, info, platform::RunLoop::isMainThread()});
  }

  std::vector<std::string> kinds() const {
    std::vector<std::string> out;
    for (const auto& e : events) out.push_back(e.kind);
    return out;
  }
};

}  // namespace webimagetest
