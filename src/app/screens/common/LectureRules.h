#pragma once
// Rules about a lecture that several screens apply alike.

#include "model/CourseWare.h"

namespace lecturerules {

// A lecture has no video for mobile devices when its video URL is absent, empty, or the lecture
// media server's base address followed by "null" (the server's way of saying there is none);
// such a lecture can be neither played nor downloaded.
bool isNotForMobile(const CourseWare& lecture);

// The alert shown for such a lecture.
inline constexpr const char* kNoMobileVideoMessage =
    "本讲课程暂不提供移动设备观看，请返回PC端学习。";
// The question before replaying a lecture whose time is complete.
inline constexpr const char* kCompleteQuestion =
    "本课程您已修满学时，重新听课不累计学时，是否听课?";

}  // namespace lecturerules
