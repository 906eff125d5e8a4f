#include "LectureTestSupport.h"

#include <filesystem>
#include <fstream>

#include "dao/StudyLogDao.h"
#include "model/GlobalModel.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/NavigationController.h"
#include "support/MainLoop.h"

namespace screentest {

namespace {

namespace fs = std::filesystem;

// An hour-long playlist of six ten-minute segments (the movie player fetches the playlist and
// the first segment; the rest of the hour passes on the clock).
void writeLongLecture(const std::string& folder, const std::string& segmentSource) {
  fs::create_directories(folder);
  std::ofstream playlist(folder + "/index.m3u8");
  playlist << "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:600\n#EXT-X-MEDIA-SEQUENCE:0\n";
  for (int i = 0; i < 6; ++i) {
    playlist << "#EXTINF:600.000000,\n" << i << ".ts\n";
    fs::copy_file(segmentSource, folder + "/" + std::to_string(i) + ".ts",
                  fs::copy_options::overwrite_existing);
  }
  playlist << "#EXT-X-ENDLIST\n";
  std::ofstream(folder + "/notes.html") << "<html><body><p>讲义</p></body></html>\n";
}

}  // namespace

void LectureTest::SetUp() {
  ScreenTest::SetUp();
  logInBeijingUser();
  PlayVideoViewController::setIdleSeconds(0);
  mediaRoot = home.path() + "/media";
  const std::string segment = server.fixturePath("lectures/lecture1/0.ts");
  for (const char* name : {"long1", "long2", "long3"})
    writeLongLecture(mediaRoot + "/" + name, segment);
  // The short fixture lecture too, for the download tests.
  fs::copy(server.fixturePath("lectures/lecture1"), mediaRoot + "/lecture1",
           fs::copy_options::recursive);
  server.setMediaRoot(mediaRoot);
  setCourses(0);
  presenter = platform::ViewController::create();
  show(presenter);
}

void LectureTest::setCourses(int firstMinutes, int secondMinutes, int thirdMinutes) {
  course = std::make_shared<ReClass>();
  course->setReClassId(kClassId);
  course->setReClassName(std::string("企业会计准则解读"));
  course->setTeacherName(std::string("王老师"));
  course->setTypeName(std::string("必修课"));
  course->setType(std::string("1"));
  course->setCwNum(3);
  course->setTotalMins(3 * kLectureMinutes);
  course->setListenedMins(firstMinutes + secondMinutes + thirdMinutes);
  course->setYear(std::to_string(kYear));
  model::List<CourseWare> lectures;
  const std::pair<int, int> figures[] = {
      {kFirst, firstMinutes}, {kSecond, secondMinutes}, {kThird, thirdMinutes}};
  int n = 1;
  for (const auto& [id, minutes] : figures) {
    auto cw = std::make_shared<CourseWare>();
    cw->setCwId(id);
    cw->setName("第" + std::to_string(n) + "讲");
    const std::string folder = "long" + std::to_string(n++);
    cw->setUrl(server.mediaUrl(folder + "/notes.html"));
    cw->setVideoUrl(server.mediaUrl(folder + "/index.m3u8"));
    cw->setTotalMins(kLectureMinutes);
    cw->setListenedMins(minutes);
    lectures.push_back(cw);
  }
  course->setCws(lectures);
  auto year = std::make_shared<Course>();
  year->setYear(kYear);
  year->setReClasses(model::List<ReClass>{course});
  model::List<Course> courses{year};
  GlobalModel::sharedModel()->setCourses(courses);
  services->dbService()->refreshCourse(platform::Value(std::string("110000")), courses,
                                       platform::Value(1234));
}

std::string LectureTest::courseAnswer(int firstMinutes, int secondMinutes, int thirdMinutes) {
  const int minutes[] = {firstMinutes, secondMinutes, thirdMinutes};
  const int ids[] = {kFirst, kSecond, kThird};
  std::string cws;
  for (int i = 0; i < 3; ++i) {
    const std::string folder = "${BASE}/media/long" + std::to_string(i + 1);
    cws += std::string(i ? "," : "") + R"({"cwId": )" + std::to_string(ids[i]) +
           R"(, "cwName": "第)" + std::to_string(i + 1) + R"(讲", "cwUrl": ")" + folder +
           R"(/notes.html", "cwVideoUrl": ")" + folder + R"(/index.m3u8", "totalMinutes": )" +
           std::to_string(kLectureMinutes) + R"(, "listenedMinutes": )" +
           std::to_string(minutes[i]) + "}";
  }
  return R"({"courses": [{"year": )" + std::to_string(kYear) + R"(, "reclasses": [{"reclassId": )" +
         std::to_string(kClassId) +
         R"(, "reclassName": "企业会计准则解读", "type": "1", "typeName": "必修课", )"
         R"("teacherName": "王老师", "cwNum": 3, "cwTotalMinutes": )" +
         std::to_string(3 * kLectureMinutes) + R"(, "listenedMinutes": )" +
         std::to_string(firstMinutes + secondMinutes + thirdMinutes) + R"(, "cws": [)" + cws +
         "]}]}]}";
}

std::shared_ptr<PlayVideoViewController> LectureTest::openPlayer(int index, int enterIndex,
                                                                 bool withList,
                                                                 float localLisMins) {
  auto player = PlayVideoViewController::create(std::string("PlayVideoViewController"));
  player->setCw(lecture(index));
  player->setReclassId(kClassId);
  player->setYear(kYear);
  if (withList) {
    player->setCws(course->cws());
    player->setCwIndex(index);
  }
  player->setEnterIndex(enterIndex);
  player->setLocalLisMins(localLisMins);
  presenter->navigationController()->presentViewController(player, true);
  EXPECT_TRUE(waitUntilPlaying(*player));
  return player;
}

void LectureTest::play(double seconds) {
  platform::RunLoop::main()->runFor(platform::seconds(seconds));
}

bool LectureTest::waitUntilPlaying(const PlayVideoViewController& player) {
  return testsupport::runUntil([&] {
    return player.playerController() &&
           player.playerController()->playbackState() == platform::MoviePlaybackState::Playing;
  });
}

int LectureTest::unsentSeconds(int cwId) const {
  StudyLogDao dao;
  platform::Dictionary row =
      dao.getByReClassId(platform::Value(std::to_string(kClassId)), platform::Value(1234),
                         platform::Value(std::to_string(cwId)), platform::Value(kYear));
  const platform::Value* seconds = platform::find(row, "listenedpos");
  return seconds ? seconds->intValue() : 0;
}

int LectureTest::unsentTotal() const {
  StudyLogDao dao;
  platform::Dictionary total = dao.getUnSyncMins(platform::Value(1234));
  const platform::Value* seconds = platform::find(total, "listenedpos");
  return seconds ? seconds->intValue() : 0;
}

void LectureTest::logSeconds(int cwId, int seconds) const {
  StudyLogDao dao;
  const std::string now = "2014-05-01 10:00:00";
  platform::Dictionary row{{"userid", platform::Value(1234)},
                           {"year", platform::Value(std::to_string(kYear))},
                           {"reclassid", platform::Value(kClassId)},
                           {"cwid", platform::Value(cwId)},
                           {"createdTime", platform::Value(now)},
                           {"lastUpdateTime", platform::Value(now)},
                           {"listenedPos", platform::Value(std::to_string(seconds))},
                           {"logTime", platform::Value(seconds)}};
  if (!dao.insert(row)) dao.update(row);
}

}  // namespace screentest
