#pragma once
// MyCourseViewController: the first tab of the main screen ("我的课程"). It asks the course API
// for the logged-in user's courses, stores them on the device and shows them one year at a time:
// a strip of year buttons on top and one row per course of the selected year with its name, total
// minutes and listened minutes. The listened minutes add the study time recorded on the device
// and not yet uploaded (whole minutes per lecture) to the server's figure, capped at the total;
// the finished look follows the server's minutes only. A row opens the course's detail screen.
//
// It fetches on view load, on "refreshCwTable" (after a long stay in the background), on
// "UpdateListenedMins" when the login was online, and on the retry button; every fetch replaces
// the course tree and the stored courses. The first list opens on its first year and later
// fetches keep the chosen year while it exists. Each appearance (the tab shown, the main screen
// back on top) sends one analytics screen view "zada_MyCourse". Main thread only.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analytics/AnalyticsTrackedViewController.h"
#include "dao/DBService.h"
#include "dao/StudyLogDao.h"
#include "model/Course.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/TableView.h"
#include "screens/common/PortraitOnly.h"

class MirelTabBarController;
class ProgressHUD;

class MyCourseViewController : public PortraitOnly<AnalyticsTrackedViewController>,
                               public platform::TableViewDataSource,
                               public platform::TableViewDelegate {
  CH_SHARED_OBJECT(MyCourseViewController)

 public:
  static constexpr const char* kScreenName = "zada_MyCourse";
  static constexpr const char* kCellIdentifier = "IDENTIFIER";
  static constexpr double kRowHeight = 69;
  static constexpr double kYearButtonWidth = 70;

  void viewDidLoad() override;
  void viewDidUnload() override;
  void viewWillAppear(bool animated) override;
  void viewDidAppear(bool animated) override;
  void viewWillDisappear(bool animated) override;

  void initView();
  void initTopView();
  void refreshTopView();
  void refreshView();
  void loadData();
  void tapYearButton(platform::Control& button);
  // The years of `courses` as texts, in list order; absent for an absent or empty list.
  static std::optional<std::vector<std::string>> getYearButtonsNames(
      const model::OptionalList<Course>& courses);
  void setNotifyViewHiden(bool hidden);
  // Whether `name` equals an element of `list` (kept with no caller).
  static bool isContain(const std::vector<std::string>& list, const std::string& name);

  void refreshCwTable() { loadData(); }
  void updateListenedMins() { loadData(); }
  void refreshBtnClick() { loadData(); }

  std::optional<int> numberOfSectionsInTableView(platform::TableView&) override { return 1; }
  int numberOfRowsInSection(platform::TableView&, int section) override;
  std::optional<double> heightForRowAtIndexPath(platform::TableView&,
                                                const platform::IndexPath&) override {
    return kRowHeight;
  }
  std::shared_ptr<platform::TableViewCell> cellForRowAtIndexPath(
      platform::TableView& table, const platform::IndexPath& path) override;
  void didSelectRowAtIndexPath(platform::TableView&, const platform::IndexPath& path) override;

  // The listened minutes a row shows: the server's minutes plus each lecture's unsent local
  // seconds in whole minutes, no more than the course's total.
  int listenedMinutes(const ReClass& reclass) const;

  const std::shared_ptr<platform::Button>& btnRefresh() const { return _btnRefresh; }
  const std::shared_ptr<platform::TableView>& leftTableView() const { return _leftTableView; }
  const std::shared_ptr<platform::ImageView>& checkAreaIV() const { return _checkAreaIV; }
  const std::shared_ptr<platform::Label>& checkAreaLabel() const { return _checkAreaLabel; }
  const std::shared_ptr<platform::View>& topView() const { return _topView; }
  const std::shared_ptr<platform::ScrollView>& topScrollView() const { return _topScrollView; }
  const std::vector<std::shared_ptr<platform::Button>>& yearButtons() const { return _yearButtons; }
  const model::OptionalList<Course>& courses() const { return _courses; }
  const std::shared_ptr<ProgressHUD>& progressHUD() const { return _progressHUD; }

 protected:
  explicit MyCourseViewController(std::optional<std::string> nibName = std::nullopt);

 private:
  // The classes of the selected year; null when there are none to show.
  const model::List<ReClass>* selectedClasses() const;
  void showCourses(const model::List<Course>& courses);
  void sendScreenView();
  void adoptRefreshedCourses();

  bool _isFist = true;
  std::shared_ptr<DBService> _dbService;
  std::shared_ptr<StudyLogDao> _studyLogDao;
  // The main screen holds this screen, so this is not owned.
  std::weak_ptr<MirelTabBarController> _tabBarController;
  std::shared_ptr<platform::Button> _btnRefresh;
  std::shared_ptr<platform::TableView> _leftTableView;
  std::shared_ptr<platform::ImageView> _checkAreaIV;
  std::shared_ptr<platform::Label> _checkAreaLabel;
  std::shared_ptr<platform::View> _topView;
  std::shared_ptr<platform::ScrollView> _topScrollView;
  std::vector<std::shared_ptr<platform::Button>> _yearButtons;
  model::OptionalList<Course> _courses;
  std::optional<std::vector<std::string>> _yearButtonsNames;
  std::shared_ptr<ProgressHUD> _progressHUD;
  int _userId = 0;

  // Set from an appearance's view hit until the screen is next about to appear or leaves: the
  // main screen tells its first tab "did appear" twice when it is first pushed (once when it
  // shows the tab, once when it has appeared itself), and that is one appearance.
  bool appeared_ = false;
  platform::ObserverToken refreshObserver_;
  platform::ObserverToken listenedObserver_;
};
