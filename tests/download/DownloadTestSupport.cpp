#include "DownloadTestSupport.h"

#include "fakeserver/FakeCourseServer.h"
#include "platform/foundation/Error.h"

namespace downloadtest {

namespace {

std::shared_ptr<platform::FakeReachabilitySource>& fake() {
  static std::shared_ptr<platform::FakeReachabilitySource> source;
  return source;
}

class ReachabilityEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    fake() =
        std::make_shared<platform::FakeReachabilitySource>(platform::kReachabilityFlagsReachable);
    platform::ReachabilitySource::setShared(fake());
  }
};

[[maybe_unused]] auto* const environment =
    ::testing::AddGlobalTestEnvironment(new ReachabilityEnvironment);

}  // namespace

platform::FakeReachabilitySource& reachability() { return *fake(); }

std::string Recorder::Entry::text(const std::string& key) const {
  const platform::Value* value = platform::find(info, key);
  return value ? value->stringValue() : std::string();
}

Recorder::Recorder() {
  for (const char* name :
       {"downloadChangeProgress", "downloadDidComplete", "downloadDone", "downloadError",
        "downloadExist", "downloadPause", "downloadChangeNetwork", "parseDownlistOK", "STARTDOWN",
        "changP", "cell_finish", "cell_network_error"}) {
    tokens_.push_back(platform::NotificationCenter::defaultCenter().addObserver(
        name, [this](const platform::Notification& n) {
          entries_.push_back(Entry{n.name, n.userInfo});
        }));
  }
}

std::vector<Recorder::Entry> Recorder::named(const std::string& name) const {
  std::vector<Entry> matching;
  for (const auto& entry : entries_)
    if (entry.name == name) matching.push_back(entry);
  return matching;
}

std::vector<std::string> Recorder::keys(const std::string& name) const {
  std::vector<std::string> keys;
  for (const auto& entry : named(name)) keys.push_back(entry.text("cwId"));
  return keys;
}

std::string describe(const Recorder& recorder, const fakeserver::FakeCourseServer& server) {
  std::ostringstream text;
  for (const auto& entry : recorder.all()) {
    if (entry.name == "changP" || entry.name == "downloadChangeProgress") continue;
    text << "notice " << entry.name << " " << platform::Value(entry.info).description() << "\n";
    const platform::Value* value = platform::find(entry.info, "error");
    if (auto error = value ? value->object<platform::Error>() : nullptr)
      text << "  error " << error->domain() << " " << error->code() << "\n";
  }
  for (const auto& request : server.requests())
    text << "request " << request.path << " " << request.header("Range") << "\n";
  return text.str();
}

}  // namespace downloadtest
