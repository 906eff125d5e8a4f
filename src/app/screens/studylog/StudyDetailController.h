#pragma once
// StudyDetailController: the lectures listened to in one course year, newest first, with how far
// each is studied (the server's minutes plus the unsent seconds on the device); a row replays its
// lecture in the player (asking first when its time is complete), and a button clears the year's
// listen history after a question. A row whose lecture is no longer among the stored courses
// opens nothing. Main thread only; portrait only.

#include <map>
#include <memory>
#include <string>

#include "dao/CourseWareDao.h"
#include "dao/ModelDao.h"
#include "dao/StudyLogDao.h"
#include "model/ListenHistory.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"
#include "screens/common/PortraitOnly.h"

class StudyDetailController : public PortraitOnly<platform::ViewController>,
                              public platform::TableViewDataSource,
                              public platform::TableViewDelegate,
                              public platform::AlertViewDelegate {
  CH_SHARED_OBJECT(StudyDetailController)

 public:
  static constexpr const char* kCellIdentifier = "CellIdentifier";
  static constexpr int kTagClear = 2009;
  static constexpr int kTagCompleteQuestion = 3000;
  static constexpr double kRowHeight = 68;

  const std::string& year() const { return _year; }
  void setYear(std::string v) { _year = std::move(v); }
  const std::shared_ptr<platform::TableView>& detailTable() const { return _detailTable; }
  void setDetailTable(std::shared_ptr<platform::TableView> v) { _detailTable = std::move(v); }

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void setNavBar();
  void back();
  void loadData();
  void setDetailTableView();
  void cleanAllHistroy();
  void alertViewClickedButtonAtIndex(platform::AlertView& alert, int buttonIndex) override;
  void playVideo(model::Number year, model::Number reclassId,
                 const std::shared_ptr<CourseWare>& courseware);

  int numberOfRowsInSection(platform::TableView&, int) override {
    return static_cast<int>(_courseLogArrs.size());
  }
  std::optional<double> heightForRowAtIndexPath(platform::TableView&,
                                                const platform::IndexPath&) override {
    return kRowHeight;
  }
  std::shared_ptr<platform::TableViewCell> cellForRowAtIndexPath(
      platform::TableView& table, const platform::IndexPath& path) override;
  void didSelectRowAtIndexPath(platform::TableView&, const platform::IndexPath& path) override;

  // --- For the tests ---
  const std::shared_ptr<platform::Button>& clearButton() const { return clearButton_; }
  const std::shared_ptr<platform::ImageView>& noteImageView() const { return _noteImageView; }
  const std::shared_ptr<platform::Label>& noteLab() const { return _noteLab; }
  const model::List<ListenHistory>& courseLogArrs() const { return _courseLogArrs; }

 protected:
  StudyDetailController();

 private:
  // The lecture of row `row` with its unsent minutes added, or null when it is not stored.
  std::shared_ptr<CourseWare> lectureForReplay(int row);
  int yearNumber() const;
  std::shared_ptr<StudyDetailController> self();

  std::string _year;
  std::shared_ptr<platform::TableView> _detailTable;
  std::shared_ptr<CourseWareDao> _courseWareDao;
  std::shared_ptr<ModelDao> _modelDao;
  std::shared_ptr<StudyLogDao> _studyLogDao;
  std::map<std::int64_t, platform::Dictionary> _courseLogDetailDic;
  model::List<ListenHistory> _courseLogArrs;
  int _selectIndex = 0;
  std::shared_ptr<platform::ImageView> _noteImageView;
  std::shared_ptr<platform::Label> _noteLab;

  // Our own.
  std::shared_ptr<platform::Button> clearButton_;
};
