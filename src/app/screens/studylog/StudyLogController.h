#pragma once
// StudyLogController: the third tab of the main screen ("学习记录"). It shows the study time
// recorded on the device and not yet uploaded, the last sync time, and one collapsible summary
// per course year; its sync button uploads the study log, fetches the courses afresh and stores
// them (in the login model, where my courses and the course detail pick them up, and on the
// device). A year's row opens that year's listen history. When the device has no room to record
// an upload the server accepted (and so sends nothing more until it has), the sync shows the
// notice "设备存储空间不足" and fetches nothing.
//
// At most one year is open. After a refresh with fewer years an open or remembered year that no
// longer exists is forgotten, and closing a year follows the row the table shows (not the look of
// a header that may never have been drawn), so the table's rows always match its sections. The
// empty state gives way to the list again when summaries appear. Main thread only; portrait only.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dao/DBService.h"
#include "dao/ModelDao.h"
#include "dao/StudyLogDao.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TapGestureRecognizer.h"
#include "platform/ui/ViewController.h"
#include "screens/common/PortraitOnly.h"

class AreaTableHeaderView;
class MirelTabBarController;
class ProgressHUD;

class StudyLogController : public PortraitOnly<platform::ViewController>,
                           public platform::TableViewDataSource,
                           public platform::TableViewDelegate,
                           public platform::AlertViewDelegate {
  CH_SHARED_OBJECT(StudyLogController)

 public:
  static constexpr const char* kCellIdentifier = "CellIdentifier";
  static constexpr double kHeaderHeight = 45;
  static constexpr double kRowHeight = 68;

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewDidAppear(bool animated) override;

  void updateListenedMins() { getAllStudyYear(); }
  void setHidenLogPromptView(bool hidden);
  std::string getLastSynTime() const;
  void remberLastSyncTime();
  void getAllStudyYear();
  void setLogPromptView();
  void noStudyLog();
  void setStudyLogTable();
  void syncStudyLog();
  void alertViewClickedButtonAtIndex(platform::AlertView& alert, int buttonIndex) override;
  void tapHeadView(platform::GestureRecognizer& tap);

  std::optional<int> numberOfSectionsInTableView(platform::TableView&) override;
  int numberOfRowsInSection(platform::TableView&, int section) override;
  std::shared_ptr<platform::View> viewForHeaderInSection(platform::TableView&,
                                                         int section) override;
  std::optional<double> heightForHeaderInSection(platform::TableView&, int) override {
    return kHeaderHeight;
  }
  std::optional<double> heightForRowAtIndexPath(platform::TableView&,
                                                const platform::IndexPath&) override {
    return kRowHeight;
  }
  std::shared_ptr<platform::TableViewCell> cellForRowAtIndexPath(
      platform::TableView& table, const platform::IndexPath& path) override;
  void didSelectRowAtIndexPath(platform::TableView&, const platform::IndexPath& path) override;

  // The user-defaults key of the last sync time: area code and user id.
  static std::string lastSyncKey();

  // --- For the tests and the snapshots ---
  const std::shared_ptr<platform::Label>& synchroTimeLab() const { return _synchroTimeLab; }
  const std::shared_ptr<platform::Label>& lastSyncTime() const { return _lastSyncTime; }
  const std::shared_ptr<platform::Button>& syncButton() const { return syncButton_; }
  const std::shared_ptr<platform::TableView>& studyLogTable() const { return _studyLogTable; }
  const std::shared_ptr<platform::View>& logPromptView() const { return _logPromptView; }
  const std::shared_ptr<platform::ImageView>& checkAreaIV() const { return _checkAreaIV; }
  const std::shared_ptr<platform::Label>& checkAreaLabel() const { return _checkAreaLabel; }
  const std::vector<platform::Dictionary>& studyLogArr() const { return _studyLogArr; }
  int currExpendSectionIndex() const { return _currExpendSectionIndex; }
  const std::shared_ptr<ProgressHUD>& progressHUD() const { return progressHUD_; }

 protected:
  StudyLogController();

 private:
  std::shared_ptr<AreaTableHeaderView> headerAt(int section) const;
  void expand(int section);
  void syncFinished(const model::List<Course>& courses);
  void syncFailed(const platform::Error& error);
  std::shared_ptr<StudyLogController> self();

  std::weak_ptr<MirelTabBarController> _mirelTabController;
  std::shared_ptr<StudyLogDao> _studyLogDao;
  std::shared_ptr<DBService> _dbService;
  std::shared_ptr<ModelDao> _modelDao;
  std::vector<platform::Dictionary> _studyLogArr;
  std::shared_ptr<platform::View> _logPromptView;
  std::shared_ptr<platform::Label> _synchroTimeLab;
  std::shared_ptr<platform::Label> _lastSyncTime;
  std::shared_ptr<platform::TableView> _studyLogTable;
  std::map<std::string, std::shared_ptr<AreaTableHeaderView>> _headerViewDics;
  int _currExpendSectionIndex = 0;
  int _lastSectionIndex = 0;
  std::shared_ptr<platform::ImageView> _checkAreaIV;
  std::shared_ptr<platform::Label> _checkAreaLabel;

  // Our own.
  std::shared_ptr<platform::Button> syncButton_;
  std::shared_ptr<ProgressHUD> progressHUD_;
  platform::ObserverToken listenedObserver_;
};
