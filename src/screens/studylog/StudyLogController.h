#pragma once
// StudyLogController: the third tab of the main screen ("学习记录"), the study time per year and
// its upload. For now a plain screen with its title; its list comes with the study-record
// screens.

#include "platform/ui/ViewController.h"

class StudyLogController : public platform::ViewController {
  CH_SHARED_OBJECT(StudyLogController)

 protected:
  StudyLogController() { setTitle(std::string("学习记录")); }
};
