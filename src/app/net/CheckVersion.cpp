#include "net/CheckVersion.h"

#include <vector>

#include "net/VersionCompare.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Mutex.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/SharedObject.h"
#include "platform/net/URLConnection.h"

namespace {

struct Settings {
  platform::Mutex mutex;
  std::string lookupHost GUARDED_BY(mutex) = "lookup.appstore.example";
  std::string storeHost GUARDED_BY(mutex) = "apps.appstore.example";
  std::string storeId GUARDED_BY(mutex) = "1000000000";
  std::shared_ptr<CheckVersionUI> ui GUARDED_BY(mutex);
};

Settings& settings() {
  static Settings shared;
  return shared;
}

std::shared_ptr<CheckVersionUI> currentUI() {
  platform::MutexLock lock(settings().mutex);
  return settings().ui;
}

void showResult(const std::vector<std::string>& versions) {
  if (versions.empty()) return;
  std::string local = platform::Bundle::main().version();
  if (VersionCompare::compare(local, versions.front()) < 0) {
    CheckVersion::showAlertWithAppStoreVersion(versions.front());
    return;
  }
  if (auto ui = currentUI())
    ui->showAlert({"当前版本为最新版本", std::nullopt, "确定", {}}, nullptr);
}

// One lookup: keeps itself alive until its connection ends (main thread).
class Lookup : public platform::URLConnectionDelegate, public std::enable_shared_from_this<Lookup> {
  CH_SHARED_OBJECT(Lookup)

 public:
  void start(const std::string& url) {
    self_ = shared_from_this();
    platform::URLRequest request(url);
    request.setHTTPMethod("GET");
    connection_ = platform::URLConnection::make(request, weak_from_this());
    connection_->scheduleInRunLoop(platform::RunLoop::main());
    connection_->start();
  }

  void connectionDidReceiveData(platform::URLConnection&, const platform::Bytes& data) override {
    body_.append(data.begin(), data.end());
  }

  void connectionDidFinishLoading(platform::URLConnection&) override {
    // No status is judged: an error page simply holds no match.
    if (!body_.empty()) showResult(CheckVersion::storeVersions(body_));
    end();
  }

  void connectionDidFailWithError(platform::URLConnection&, const platform::Error&) override {
    end();
  }

 private:
  explicit Lookup(std::function<void()> finished) : finished_(std::move(finished)) {}

  void end() {
    if (finished_) finished_();
    connection_.reset();
    self_.reset();
  }

  std::function<void()> finished_;
  std::string body_;
  std::shared_ptr<platform::URLConnection> connection_;
  std::shared_ptr<Lookup> self_;
};

}  // namespace

void CheckVersion::checkVersion(std::function<void()> finished) {
  Lookup::create(std::move(finished))->start(lookupURL());
}

std::vector<std::string> CheckVersion::storeVersions(std::string_view answer) {
  std::vector<std::string> versions;
  auto json = platform::Json::parse(answer);
  if (!json) return versions;
  const nlohmann::json* results = platform::Json::arrayValue(*json, "results");
  if (!results) return versions;
  for (const auto& match : *results) {
    const nlohmann::json* version = platform::Json::member(match, "version");
    if (version && version->is_string()) versions.push_back(version->get<std::string>());
  }
  return versions;
}

void CheckVersion::showAlertWithAppStoreVersion(const std::string& version) {
  auto ui = currentUI();
  if (!ui) return;
  ui->showAlert(
      {"有新的版本", "发现新版本(" + version + "),是否进行更新？", "以后再说", {"下载更新"}},
      [](int buttonIndex) { CheckVersion::alertView(buttonIndex); });
}

void CheckVersion::alertView(int buttonIndex) {
  if (buttonIndex != 1) return;
  if (auto ui = currentUI()) ui->openURL(storePageURL());
}

void CheckVersion::setUI(std::shared_ptr<CheckVersionUI> ui) {
  platform::MutexLock lock(settings().mutex);
  settings().ui = std::move(ui);
}

void CheckVersion::setEndpoints(std::string lookupHost, std::string storeHost,
                                std::string storeId) {
  platform::MutexLock lock(settings().mutex);
  settings().lookupHost = std::move(lookupHost);
  settings().storeHost = std::move(storeHost);
  settings().storeId = std::move(storeId);
}

std::string CheckVersion::lookupURL() {
  platform::MutexLock lock(settings().mutex);
  return "http://" + settings().lookupHost + "/lookup?id=" + settings().storeId;
}

std::string CheckVersion::storePageURL() {
  platform::MutexLock lock(settings().mutex);
  return "https://" + settings().storeHost + "/app/id" + settings().storeId;
}
