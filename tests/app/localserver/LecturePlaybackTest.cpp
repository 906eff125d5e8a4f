// End to end: the download pipeline fetches a lecture from the fake course server into the
// user's folder, LocalHttpServer serves that folder, and a real HLS client (ffprobe, ffmpeg)
// reads it to the end over loopback, with a seek that makes range requests.

#include <gtest/gtest.h>

#include <mutex>
#include <sstream>

#include "download/DownloadManager.h"
#include "download/DownloadNotifications.h"
#include "download/DownloadTestSupport.h"
#include "download/DownloadUtil.h"
#include "download/SIDownloadManager.h"
#include "fakeserver/FakeCourseServer.h"
#include "httpserver/HttpServerTestSupport.h"
#include "httpserver/core/HTTPConnection.h"
#include "httpserver/core/HTTPServer.h"
#include "localserver/LocalHttpServer.h"
#include "model/CourseWare.h"
#include "model/GlobalModel.h"
#include "platform/foundation/Paths.h"
#include "support/Files.h"
#include "support/MainLoop.h"
#include "support/TempHome.h"

namespace {

using httpservertest::run;

// What ffprobe reads from the fixture lecture's four segments.
constexpr int kLecturePackets = 20;

// Remembers the target, "Range" and status of every request it answers.
class ObservedConnection : public HTTPConnection {
  CH_SHARED_OBJECT(ObservedConnection)

 public:
  struct Seen {
    std::string uri;
    std::string range;
    bool answered;
  };
  static std::mutex& mutex() {
    static auto* m = new std::mutex;
    return *m;
  }
  static std::vector<Seen>& seen() {
    static auto* all = new std::vector<Seen>;
    return *all;
  }

 protected:
  ObservedConnection(std::shared_ptr<DispatchSocket> socket, std::shared_ptr<HTTPConfig> config)
      : HTTPConnection(std::move(socket), std::move(config)) {}
  std::shared_ptr<HTTPResponse> httpResponseForMethod(
      const std::string& method, const std::optional<std::string>& path) override {
    auto response = HTTPConnection::httpResponseForMethod(method, path);
    std::lock_guard<std::mutex> lock(mutex());
    seen().push_back(
        {path.value_or(""), request->headerField("Range").value_or(""), response != nullptr});
    return response;
  }
};

int packetsRead(const std::string& url) {
  auto result =
      run("ffprobe -v error -count_packets -show_entries stream=nb_read_packets "
          "-of csv=p=0 '" +
          url + "' 2>/dev/null");
  if (result.status != 0) return -1;
  int packets = 0;
  std::istringstream lines(result.output);
  for (std::string line; std::getline(lines, line);)
    if (!line.empty()) packets = std::max(packets, std::atoi(line.c_str()));
  return packets;
}

class LecturePlaybackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (run("ffprobe -version").status != 0) GTEST_SKIP() << "ffprobe is not installed";
    ASSERT_TRUE(fakeServer.start());
    setenv("CHENGHENG_MEDIA_PORT", "0", 1);
    GlobalModel::sharedModel()->setUserId(1234);
  }
  void TearDown() override {
    unsetenv("CHENGHENG_MEDIA_PORT");
    GlobalModel::sharedModel()->setUserId(0);
    SIDownloadManager::sharedSIDownloadManager()->cancelAllDonloads();
  }

  testsupport::TempHome home;
  fakeserver::FakeCourseServer fakeServer;
  downloadtest::Recorder recorder;
};

TEST_F(LecturePlaybackTest, ADownloadedLecturePlaysThroughTheServerWithSeeks) {
  // The pipeline downloads lecture 9001 into the user's folder, as the download list does.
  const std::string userFolder = platform::Paths::documents() + "/1234";
  const std::string key = DownloadUtil::getAbsoluteString("110000", "2014", "9001");
  DownloadManager manager;
  manager.setDownloadToPath(userFolder);
  auto lecture = std::make_shared<CourseWare>();
  lecture->setVideoUrl(fakeServer.mediaUrl("lecture1/index.m3u8"));
  lecture->setUrl(fakeServer.mediaUrl("lecture1/notes.html"));
  manager.addDownlodTask(lecture, key);
  ASSERT_TRUE(testsupport::runUntil([&] { return recorder.count(kCellFinish) > 0; }, 60))
      << downloadtest::describe(recorder, fakeServer);
  ASSERT_EQ(recorder.count(kCellNetworkError), 0u);

  // The player's road: make the server, set the root, start it.
  LocalHttpServer server;
  server.httpServer()->setConnectionClass(&HTTPConnection::initWithAsyncSocket<ObservedConnection>);
  if (!server.isRunning()) {
    server.setDocumeentRoot();
    server.start();
  }
  ASSERT_TRUE(server.isRunning());
  const std::string base =
      "http://127.0.0.1:" + std::to_string(server.httpServer()->listeningPort()) + "/" + key;
  const std::string playlist = base + "/index.m3u8";

  EXPECT_EQ(packetsRead(playlist), kLecturePackets);
  EXPECT_EQ(run("ffmpeg -nostdin -v error -i '" + playlist + "' -f null - 2>&1").status, 0);
  // A seek into the lecture, and one inside a segment, which reads it from a byte offset.
  EXPECT_EQ(run("ffmpeg -nostdin -v error -ss 1.2 -i '" + playlist + "' -f null - 2>&1").status, 0);
  EXPECT_EQ(run("ffmpeg -nostdin -v error -ss 0.3 -i '" + base + "/0.ts' -f null - 2>&1").status,
            0);

  auto notes = run("curl -s '" + base + "/leture.htm'");
  EXPECT_EQ(notes.status, 0);
  EXPECT_TRUE(notes.output == testsupport::readFile(userFolder + "/" + key + "/leture.htm"));

  server.stop();
  std::lock_guard<std::mutex> lock(ObservedConnection::mutex());
  const auto& seen = ObservedConnection::seen();
  std::size_t ranged = 0;
  for (const auto& request : seen) {
    EXPECT_TRUE(request.answered) << request.uri;
    if (!request.range.empty()) ++ranged;
  }
  std::size_t segments = 0;
  for (const auto& request : seen) segments += request.uri.find(".ts") != std::string::npos;
  EXPECT_GT(segments, 4u);
  EXPECT_GT(ranged, 0u) << "no request carried a Range header";
}

}  // namespace
