#pragma once
// LocalCourseController: the second tab of the main screen ("本地课程"): the courses with
// downloaded or downloading lectures, one year at a time, with their total and accumulated
// minutes (the server's minutes plus each lecture's unsent seconds in whole minutes, no more than
// the total). Online every lecture with a download row counts, offline only finished ones. A
// course opens its download list.
//
// The year strip is built once and filled again on each reload; the list comes back when courses
// appear after an empty state. The chosen year lives in the login model and falls back to the
// newest year when the list grows shorter. The screen is made anew at every login; its
// observation ends with it. Main thread only; portrait only.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dao/StudyLogDao.h"
#include "model/Course.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"
#include "screens/common/PortraitOnly.h"

class MirelTabBarController;

class LocalCourseController : public PortraitOnly<platform::ViewController>,
                              public platform::TableViewDataSource,
                              public platform::TableViewDelegate {
  CH_SHARED_OBJECT(LocalCourseController)

 public:
  static constexpr const char* kCellIdentifier = "IDENTIFIER";
  static constexpr double kRowHeight = 69;

  void viewDidLoad() override;
  void viewDidAppear(bool animated) override;
  void updateListenedMins() { loadData(); }
  void setLoadView();
  void setTopView();
  void refreshTopView();
  void loadData();
  void refreshView();
  void tapYearButton(platform::Control& sender);
  static std::optional<std::vector<std::string>> getYearButtonsNames(
      const model::List<Course>& courses);
  // Whether `name` equals an entry of `list` (kept with no caller).
  static bool isContain(const std::vector<std::string>& list, const std::string& name);
  void setNotifyViewHiden(bool hidden);
  void playVideo(model::Number year, model::Number reclassId,
                 const std::shared_ptr<CourseWare>& courseware);

  std::optional<int> numberOfSectionsInTableView(platform::TableView&) override { return 1; }
  int numberOfRowsInSection(platform::TableView&, int section) override;
  std::optional<double> heightForRowAtIndexPath(platform::TableView&,
                                                const platform::IndexPath&) override {
    return kRowHeight;
  }
  std::shared_ptr<platform::TableViewCell> cellForRowAtIndexPath(
      platform::TableView& table, const platform::IndexPath& path) override;
  void didSelectRowAtIndexPath(platform::TableView&, const platform::IndexPath& path) override;

  // --- For the tests ---
  const model::List<Course>& courses() const { return _courses; }
  const std::vector<std::shared_ptr<platform::Button>>& yearButtons() const { return _yearButtons; }
  const std::shared_ptr<platform::View>& topView() const { return _topView; }
  const std::shared_ptr<platform::TableView>& leftTableView() const { return _leftTableView; }
  const std::shared_ptr<platform::Label>& checkAreaLabel() const { return _checkAreaLabel; }

 protected:
  LocalCourseController();

 private:
  const model::List<ReClass>* selectedClasses() const;
  std::shared_ptr<LocalCourseController> self();

  model::List<Course> _courses;
  int _userId = 0;
  bool _isFist = true;
  int _currSelectYear = 0;
  std::vector<std::shared_ptr<platform::Button>> _yearButtons;
  std::optional<std::vector<std::string>> _yearButtonsNames;
  std::shared_ptr<platform::View> _topView;
  std::shared_ptr<platform::ScrollView> _topScrollView;
  std::shared_ptr<platform::TableView> _leftTableView;
  std::shared_ptr<platform::ImageView> _checkAreaIV;
  std::shared_ptr<platform::Label> _checkAreaLabel;
  std::weak_ptr<MirelTabBarController> _tabBarController;
  std::shared_ptr<StudyLogDao> _studyLogDao;

  // Our own.
  platform::ObserverToken listenedObserver_;
};
