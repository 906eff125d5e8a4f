#pragma once
// CourseDetailViewController: one course of the learner, opened from a row of my courses. A
// header gives the course's figures and study progress; a resume button reopens the lecture the
// learner last listened to at its last position; two pages, switched by the "播放" / "下载"
// segment bar, list the lectures to play and the lectures to download.
//
// The resume button belongs to the last listen of the course alone: taps on the lists do not
// change what it opens, and with no listen history it does nothing. Resuming passes the position
// to the player only for the jump; the lecture's credited minutes stay as the server gave them.
// Each appearance takes the course again, by id, from the login model's course tree when it holds
// one (a sync replaces the tree with the server's refreshed figures).
//
// Main thread only; portrait only.

#include <memory>
#include <optional>
#include <string>

#include "dao/ModelDao.h"
#include "dao/StudyLogDao.h"
#include "model/ReClass.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"
#include "screens/common/PortraitOnly.h"

class CourseDetailViewController : public PortraitOnly<platform::ViewController>,
                                   public platform::TableViewDataSource,
                                   public platform::TableViewDelegate,
                                   public platform::AlertViewDelegate {
  CH_SHARED_OBJECT(CourseDetailViewController)

 public:
  static constexpr int kTagPlayButton = 101;
  static constexpr int kTagDownloadButton = 102;
  static constexpr int kTagCompleteQuestion = 3000;
  static constexpr double kPageWidth = 290;
  static constexpr double kRowHeight = 48;
  static constexpr double kProgressWidth = 150;

  const std::shared_ptr<ReClass>& currReclass() const { return _currReclass; }
  void setCurrReclass(std::shared_ptr<ReClass> reclass) { _currReclass = std::move(reclass); }

  void viewDidLoad() override;
  void viewDidAppear(bool animated) override;

  void loadData();
  void refreshReclassView(const std::shared_ptr<ReClass>& reclass);
  void setProgressValue(float ratio);
  // "%02d:%02d:%02d" of a position, its seconds rounded down to tens.
  static std::string toVideoTime(int seconds);

  void back();
  void refreshBtnClick();
  void tapPlayButton(platform::Control& sender);
  void GoPointTime();
  void gotoPlay(const std::shared_ptr<CourseWare>& lecture);
  void playVideo(model::Number year, model::Number reclassId,
                 const std::shared_ptr<CourseWare>& lecture,
                 const model::OptionalList<CourseWare>& list, int index);
  void addDownLoad(int row);

  int numberOfRowsInSection(platform::TableView&, int section) override;
  std::optional<double> heightForRowAtIndexPath(platform::TableView&,
                                                const platform::IndexPath&) override {
    return kRowHeight;
  }
  std::shared_ptr<platform::TableViewCell> cellForRowAtIndexPath(
      platform::TableView& table, const platform::IndexPath& path) override;
  void didSelectRowAtIndexPath(platform::TableView& table,
                               const platform::IndexPath& path) override;
  void scrollViewDidScroll(platform::ScrollView& scrollView) override;
  void scrollViewDidEndScrollingAnimation(platform::ScrollView& scrollView) override;
  void alertViewClickedButtonAtIndex(platform::AlertView& alert, int buttonIndex) override;

  // --- For the tests and the snapshots ---
  const std::shared_ptr<platform::Button>& recordBtn() const { return _recordBtn; }
  const std::shared_ptr<platform::Button>& btnRefresh() const { return _btnRefresh; }
  const std::shared_ptr<platform::Button>& btnPlay() const { return _btnPlay; }
  const std::shared_ptr<platform::Button>& btnDownload() const { return _btnDownload; }
  const std::shared_ptr<platform::TableView>& cwTable() const { return _cwTable; }
  const std::shared_ptr<platform::TableView>& selectTable() const { return _selectTable; }
  const std::shared_ptr<platform::ScrollView>& pageArea() const { return _scrollView; }
  const std::shared_ptr<platform::View>& reclssView() const { return _reclssView; }
  const std::shared_ptr<platform::Label>& labelPer() const { return _labelPer; }
  const std::shared_ptr<platform::View>& progressView() const { return _progressView; }
  // The lecture and position (seconds) the resume button opens; absent without listen history.
  const std::shared_ptr<CourseWare>& resumeLecture() const { return resumeLecture_; }
  const std::optional<double>& resumePosition() const { return resumePosition_; }

 protected:
  CourseDetailViewController();

 private:
  void buildHeader();
  void buildSegmentBar();
  void buildPages();
  void moveUnderline(const std::shared_ptr<platform::Button>& under);
  void selectSegment(int tag);
  // Opens `lecture` (asking first when its time is complete); `resume` is where it starts.
  void openLecture(const std::shared_ptr<CourseWare>& lecture, std::optional<double> resume);
  void startPlayer(const std::shared_ptr<CourseWare>& lecture, std::optional<double> resume);
  int indexOf(const CourseWare& lecture) const;
  std::shared_ptr<ReClass> courseFromModel() const;
  std::shared_ptr<CourseDetailViewController> self();

  std::shared_ptr<ReClass> _currReclass;
  // The lecture of the last tap (and of the last opened lecture).
  std::shared_ptr<CourseWare> _currRecordCW;
  int _selectRow = 0;
  std::shared_ptr<ModelDao> _modelDao;
  std::shared_ptr<StudyLogDao> _studyLogDao;

  std::shared_ptr<platform::View> _reclssView;
  std::shared_ptr<platform::Label> _labelTitle;
  std::shared_ptr<platform::ImageView> _ivReclass;
  std::shared_ptr<platform::View> _progressView;
  std::shared_ptr<platform::Label> _labelPer;
  std::shared_ptr<platform::View> _changeView;
  std::shared_ptr<platform::Button> _btnPlay;
  std::shared_ptr<platform::Button> _btnDownload;
  std::shared_ptr<platform::View> _selectedSegmentLayer;
  std::shared_ptr<platform::ScrollView> _scrollView;
  std::shared_ptr<platform::Button> _recordBtn;
  std::shared_ptr<platform::TableView> _cwTable;
  std::shared_ptr<platform::TableView> _selectTable;
  std::shared_ptr<platform::Button> _btnRefresh;

  // Our own.
  // From the course's newest listen history: the lecture and where its resume starts.
  std::shared_ptr<CourseWare> resumeLecture_;
  std::optional<double> resumePosition_;
  // The start position of the lecture waiting for the answer to the complete-time question.
  std::optional<double> pendingResume_;
};
