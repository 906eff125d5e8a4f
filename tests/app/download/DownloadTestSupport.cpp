#include "DownloadTestSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "download/DownloadNotifications.h"
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
  for (const char* name : {kDownloadChangeProgress, kDownloadDidComplete, kDownloadDone,
                           kDownloadError, kDownloadExist, kDownloadPause, kDownloadChangeNetwork,
                           kParseDownlistOK, kStartDown, kChangP, kCellFinish, kCellNetworkError}) {
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
  for (const auto& entry : named(name)) keys.push_back(entry.text(kCwIdKey));
  return keys;
}

std::string describe(const Recorder& recorder, const fakeserver::FakeCourseServer& server) {
  std::ostringstream text;
  for (const auto& entry : recorder.all()) {
    if (entry.name == kChangP || entry.name == kDownloadChangeProgress) continue;
    text << "notice " << entry.name << " " << platform::Value(entry.info).description() << "\n";
    const platform::Value* value = platform::find(entry.info, kErrorKey);
    if (auto error = value ? value->object<platform::Error>() : nullptr)
      text << "  error " << error->domain() << " " << error->code() << "\n";
  }
  for (const auto& request : server.requests())
    text << "request " << request.path << " " << request.header("Range") << "\n";
  return text.str();
}

int packetsPlayableFromFiles(const std::string& path) {
  // Quoted for the shell: the path is a test's own folder, but may hold any byte but "'".
  std::string command =
      "ffprobe -v error -protocol_whitelist file -count_packets -show_entries "
      "stream=nb_read_packets -of csv=p=0 '" +
      path + "' 2>/dev/null";
  std::FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  std::string output;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
  if (pclose(pipe) != 0) return -1;
  // The stream is listed under its program and on its own: the same count twice.
  int packets = 0;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty()) packets = std::max(packets, std::atoi(line.c_str()));
  }
  return packets;
}

}  // namespace downloadtest
