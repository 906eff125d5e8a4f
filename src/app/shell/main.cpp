// The chengheng executable: launches the application headless with AppDelegate as its delegate
// and plays a learner's road on it, leaving a picture of every step and a summary.
//
//   chengheng [--script FILE] [--api-host HOST] [--out FOLDER]
//
// Without --script it plays the road bundled as "roads/learner.road". The course server is
// --api-host, else CHENGHENG_API_HOST, else a fake course server this process starts on a free
// loopback port (which then also takes the analytics hits and answers the store lookup, and
// answers the course list from the bundled "roads/courses.json", whose first lecture is long
// enough to be credited study time). The
// pictures and "index.html" go to FOLDER (default: a new folder under the temporary folder).
// Unless CHENGHENG_HOME names one, the application's home is a fresh "home" folder inside
// FOLDER, so every run starts as a first launch.
//
// The run's clock is manual: time moves only with the steps, so timers, study time and
// animations come out the same on every run. The device reads as on WiFi; the servers it talks
// to are on this machine.
//
// The analytics log keeps to warnings and errors unless CHENGHENG_ANALYTICS_LOG_LEVEL asks for
// more (4: everything).
//
// Exit status: 0 when every step passed, 1 when one failed (the message names it), 2 for a bad
// command line, script or output folder; every exit is an OrderlyExit.

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include "fakeserver/FakeCourseServer.h"
#include "net/CheckVersion.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Paths.h"
#include "platform/net/FakeReachabilitySource.h"
#include "platform/ui/Application.h"
#include "shell/AppDelegate.h"
#include "shell/OrderlyExit.h"
#include "shell/RoadReport.h"
#include "shell/RoadRunner.h"
#include "shell/RoadScript.h"

namespace {

struct Options {
  std::optional<std::string> script;
  std::optional<std::string> apiHost;
  std::optional<std::string> out;
};

constexpr const char* kUsage =
    "usage: chengheng [--script FILE] [--api-host HOST] [--out FOLDER]\n";
// The store identifier the lookup asks for; the fake server answers any.
constexpr const char* kStoreId = "1000000000";

bool parseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc || argv[i + 1][0] == '\0') return false;
    const std::string value = argv[++i];
    if (arg == "--script") {
      options->script = value;
    } else if (arg == "--api-host") {
      options->apiHost = value;
    } else if (arg == "--out") {
      options->out = value;
    } else {
      return false;
    }
  }
  return true;
}

bool hasEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

// The output folder, made and emptied of an earlier run's pictures and page.
std::optional<std::string> prepareOutput(const std::optional<std::string>& wanted) {
  namespace fs = std::filesystem;
  std::error_code ec;
  std::string folder;
  if (wanted) {
    folder = fs::absolute(*wanted, ec).string();
    fs::create_directories(folder, ec);
    if (!fs::is_directory(folder, ec)) return std::nullopt;
  } else {
    std::string pattern = (fs::temp_directory_path(ec) / "chengheng-road-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) return std::nullopt;
    folder = pattern;
  }
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name == "index.html" || (entry.path().extension() == ".png" && name.size() > 3 &&
                                 std::isdigit(static_cast<unsigned char>(name[0]))))
      fs::remove(entry.path(), ec);
  }
  return folder;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parseOptions(argc, argv, &options)) {
    std::cerr << kUsage;
    OrderlyExit::leave(2);
  }
  auto folder = prepareOutput(options.out);
  if (!folder) {
    std::cerr << "chengheng: cannot make the output folder\n";
    OrderlyExit::leave(2);
  }
  if (!hasEnvironment("CHENGHENG_HOME")) {
    const std::string home = platform::Paths::join(*folder, "home");
    std::error_code ec;
    std::filesystem::remove_all(home, ec);
    platform::Paths::setHome(home);
  }

  std::string scriptPath;
  if (options.script) {
    scriptPath = *options.script;
  } else if (auto bundled = platform::Bundle::main().pathForResource("roads/learner", "road")) {
    scriptPath = *bundled;
  } else {
    std::cerr << "chengheng: the bundled road \"roads/learner.road\" is missing from "
              << platform::Bundle::main().resourcePath() << "\n";
    OrderlyExit::leave(2);
  }
  std::string error;
  auto script = RoadScript::load(scriptPath, &error);
  if (!script) {
    std::cerr << "chengheng: " << scriptPath << ": " << error << "\n";
    OrderlyExit::leave(2);
  }
  // The analytics component's step-by-step lines would bury the road's own output; warnings
  // and errors still show. CHENGHENG_ANALYTICS_LOG_LEVEL=4 asks for every line.
  ::setenv(AppDelegate::kAnalyticsLogLevelVariable, "2", 0);

  platform::Clock::setShared(std::make_shared<platform::ManualClock>());
  platform::ReachabilitySource::setShared(
      std::make_shared<platform::FakeReachabilitySource>(platform::kReachabilityFlagsReachable));

  fakeserver::FakeCourseServer server;
  if (options.apiHost) {
    ::setenv("CHENGHENG_API_HOST", options.apiHost->c_str(), 1);
  } else if (!hasEnvironment("CHENGHENG_API_HOST")) {
    if (!server.start("127.0.0.1", 0)) {
      std::cerr << "chengheng: cannot start the fake course server on 127.0.0.1\n";
      OrderlyExit::leave(2);
    }
    ::setenv("CHENGHENG_API_HOST", server.apiHost().c_str(), 1);
    ::setenv("CHENGHENG_WEB_HOST", server.apiHost().c_str(), 0);
    ::setenv("CHENGHENG_ANALYTICS_HOST", server.baseUrl().c_str(), 0);
    ::setenv("CHENGHENG_ANALYTICS_PLAIN_HOST", server.baseUrl().c_str(), 0);
    CheckVersion::setEndpoints(server.apiHost(), server.apiHost(), kStoreId);
    if (auto courses = platform::Bundle::main().pathForResource("roads/courses", "json")) {
      std::ifstream in(*courses, std::ios::binary);
      std::ostringstream text;
      text << in.rdbuf();
      server.setCourseList(text.str());
    }
    // Flushed now: when the output is a pipe or a file, the lines the application logs to
    // standard error during the road would otherwise come before it.
    std::cout << "The fake course server listens on " << server.baseUrl() << std::endl;
  }

  bool passed = false;
  {
    RoadRunner runner(std::move(*script), *folder);
    auto delegate = AppDelegate::create();
    platform::Application::sharedApplication().launch(delegate);
    passed = runner.run();
    if (!RoadReport::writeIndex(runner, *folder, &error))
      std::cerr << "chengheng: " << error << "\n";
    std::cout << RoadReport::summary(runner, *folder);
    if (!passed) std::cerr << "chengheng: " << RoadReport::failure(runner) << "\n";
    if (delegate->downloadManager()) delegate->downloadManager()->pauseAllDownload();
  }
  server.stop();
  OrderlyExit::leave(passed ? 0 : 1);
}
