#pragma once
// LocalCourseController: the second tab of the main screen ("本地课程"), the learner's downloaded
// courses. For now a plain screen with its title; its list comes with the download screens.

#include "platform/ui/ViewController.h"

class LocalCourseController : public platform::ViewController {
  CH_SHARED_OBJECT(LocalCourseController)

 protected:
  LocalCourseController() { setTitle(std::string("本地课程")); }
};
