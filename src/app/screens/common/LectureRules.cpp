#include "screens/common/LectureRules.h"

#include "net/ServerConfig.h"

namespace lecturerules {

bool isNotForMobile(const CourseWare& lecture) {
  const auto& url = lecture.videoUrl();
  return !url || url->empty() || *url == ServerConfig::mediaBaseURL() + "null";
}

}  // namespace lecturerules
