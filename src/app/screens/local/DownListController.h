#pragma once
// DownListController: the downloads of one course. One list holds the lectures still downloading
// (tap to pause, resume or retry), the other the downloaded ones (tap to play from the device);
// in edit mode rows are marked and deleted, which removes their download rows, their folders
// and their places in the download queue. Progress, completion and failure of the running
// download arrive as notices from the download manager.
//
// A finished download is recorded as finished on every "cell_finish" (the application's shared
// objects do it too, for lectures no list shows). Deleting the lecture that downloads now stops
// its transfer on the main thread before its folder goes; a key that is not a plain folder name
// deletes no folder. A lecture that failed for lack of disk space says so on its row. The screen's
// observations end with it. Main thread only; portrait only.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dao/StudyLogDao.h"
#include "model/Course.h"
#include "model/DownloadInfo.h"
#include "model/ReClass.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"
#include "screens/common/CheckBox.h"
#include "screens/common/PortraitOnly.h"

class DownLoadCell;

class DownListController : public PortraitOnly<platform::ViewController>,
                           public platform::TableViewDataSource,
                           public platform::TableViewDelegate,
                           public platform::AlertViewDelegate,
                           public CheckBoxDelegate {
  CH_SHARED_OBJECT(DownListController)

 public:
  static constexpr int kTagNothingMarked = 1999;
  static constexpr int kTagDelete = 2000;
  static constexpr int kTagCompleteQuestion = 2001;
  static constexpr int kTagRetry = 2003;
  static constexpr double kRowHeight = 58;
  // The state a row shows when its lecture failed because the disk is full (tap to retry).
  static constexpr const char* kNoSpaceText = "空间不足";

  const std::shared_ptr<ReClass>& currReclass() const { return _currReclass; }
  void setCurrReclass(std::shared_ptr<ReClass> v) { _currReclass = std::move(v); }
  const std::shared_ptr<Course>& currentCourse() const { return _currentCourse; }
  void setCurrentCourse(std::shared_ptr<Course> v) { _currentCourse = std::move(v); }

  void viewDidLoad() override;
  void setNavBar();
  void back();
  void setDownLoadlist();
  void getReclassView(const std::shared_ptr<ReClass>& course);
  void downLoadClick();
  void setDownProgressAndState(const platform::Notification& notification);
  void refreshDownloadingState(DownLoadCell& row, const CourseWare& lecture);
  void editBtnClick();
  void cancelAllClick();
  void finishViewCancel(bool downloaded);
  void selectAllClick();
  void isSelectAll();
  void refershDelBtn();
  void viewChecked(CheckBox& box) override;
  void delClick();
  // Removes a lecture's folder under the user's download folder; refused for a key that is not
  // a plain folder name.
  void deleFolder(const std::string& key);
  void playVideo(model::Number year, model::Number reclassId,
                 const std::shared_ptr<CourseWare>& cw);
  void alertViewClickedButtonAtIndex(platform::AlertView& alert, int buttonIndex) override;

  int numberOfRowsInSection(platform::TableView&, int section) override;
  std::optional<double> heightForRowAtIndexPath(platform::TableView&,
                                                const platform::IndexPath&) override {
    return kRowHeight;
  }
  std::shared_ptr<platform::TableViewCell> cellForRowAtIndexPath(
      platform::TableView& table, const platform::IndexPath& path) override;
  bool canEditRowAtIndexPath(platform::TableView&, const platform::IndexPath&) override {
    return true;
  }
  std::optional<platform::TableViewCellEditingStyle> editingStyleForRowAtIndexPath(
      platform::TableView&, const platform::IndexPath&) override {
    return platform::TableViewCellEditingStyle::None;
  }
  void didSelectRowAtIndexPath(platform::TableView& table,
                               const platform::IndexPath& path) override;

  // Whether a failure notice carries the platform's no-space error.
  static bool isNoSpaceError(const platform::Notification& notification);
  // Whether `key` can name a folder inside the download folder (no separators, not "." or "..").
  static bool isPlainFolderName(const std::string& key);

  // --- For the tests and the snapshots ---
  const std::shared_ptr<platform::TableView>& downListTable() const { return _downListTable; }
  const std::shared_ptr<platform::Button>& downLingBtn() const { return _downLingBtn; }
  const std::shared_ptr<platform::Button>& downLoadBtn() const { return _downLoadBtn; }
  const std::shared_ptr<platform::Button>& editBtn() const { return _editBtn; }
  const std::shared_ptr<platform::Button>& deleteBtn() const { return _deleteBtn; }
  const std::shared_ptr<platform::Button>& selectAllBtn() const { return _selectAllBtn; }
  const std::shared_ptr<platform::Button>& cancleBtn() const { return _cancleBtn; }
  const std::shared_ptr<ReClass>& downloadingReclass() const { return _downloadingReclass; }
  const std::shared_ptr<ReClass>& finishReclass() const { return _finishReclass; }
  bool isDownLoaded() const { return _isDownLoaded; }
  int selectedCount() const { return _selectedCount; }

 protected:
  DownListController();

 private:
  std::string keyFor(const std::string& year, const CourseWare& lecture) const;
  std::vector<bool>& shownFlags() { return _isDownLoaded ? _finishFlags : _selFlagsArrs; }
  const std::shared_ptr<ReClass>& shownList() const {
    return _isDownLoaded ? _finishReclass : _downloadingReclass;
  }
  std::shared_ptr<DownLoadCell> rowOnScreen(int row) const;
  void toggleMark(int row);
  void deleteMarked();
  void tapDownloading(int row);
  std::shared_ptr<DownListController> self();

  std::shared_ptr<ReClass> _currReclass;
  std::shared_ptr<Course> _currentCourse;
  std::shared_ptr<ReClass> _downloadingReclass;
  std::shared_ptr<ReClass> _finishReclass;
  model::List<DownloadInfo> _finishDownLoadArr;
  std::vector<bool> _selFlagsArrs;
  std::vector<bool> _finishFlags;
  bool _isDownLoaded = false;
  bool _selectIndex = false;
  // The design's `selectedCount`.
  int _selectedCount = 0;
  bool _isAllSelceted = false;
  int _clickCWIndex = 0;
  int _selectedDownLoading = 0;
  bool _isCheckBox = false;
  int _userId = 0;
  std::shared_ptr<StudyLogDao> _studyLogDao;

  std::shared_ptr<platform::Label> _reClessLab;
  std::shared_ptr<platform::Button> _downLingBtn;
  std::shared_ptr<platform::Button> _downLoadBtn;
  std::shared_ptr<platform::TableView> _downListTable;
  std::shared_ptr<platform::Button> _editBtn;
  std::shared_ptr<platform::Button> _deleteBtn;
  std::shared_ptr<platform::Button> _selectAllBtn;
  std::shared_ptr<platform::Button> _cancleBtn;

  // Our own. Last, so no notice reaches a half-destroyed screen.
  std::vector<platform::ObserverToken> observers_;
};
