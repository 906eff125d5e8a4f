#pragma once
// AreaViewController: the first screen of the navigation stack (after the first-run guide). It
// lists the regions as expandable sections, each with its sub-areas as rows, fetched from the
// course API when a network is there and kept in the local store for starting without one. At
// most one region is open at a time: tapping the open region closes it, tapping another closes
// the open one and opens the tapped one. Choosing a sub-area, or tapping a region without
// sub-areas, opens the one login screen of this screen for that area. The first region starts
// open.
//
// Without a network, and when the fetch fails (the course server out of reach), the stored tree
// is shown, after a failed fetch under the notice "请检查网络"; when nothing is shown (no stored
// tree, an empty fetch) the retry button is there. Main thread only.

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "dao/AreaDao.h"
#include "model/Area.h"
#include "platform/ui/Button.h"
#include "platform/ui/GestureRecognizer.h"
#include "platform/ui/TableView.h"
#include "screens/common/AreaTableHeaderView.h"
#include "screens/common/BaseViewController.h"

class LoginViewController;
class ProgressHUD;

class AreaViewController : public BaseViewController,
                           public platform::TableViewDataSource,
                           public platform::TableViewDelegate {
  CH_SHARED_OBJECT(AreaViewController)

 public:
  static constexpr const char* kCellIdentifier = "CellIntifier";
  static constexpr double kRowHeight = 55;

  void viewDidLoad() override;
  void initView();
  // Fetches the regions (or, offline, reads the stored ones).
  void loadData();
  void refreshView();
  void refreshBtnClick();
  void expendSectionView(int section);
  void tapHeadView(platform::GestureRecognizer& recognizer);
  void showLoginView(const std::shared_ptr<Area>& area);

  std::optional<int> numberOfSectionsInTableView(platform::TableView&) override;
  int numberOfRowsInSection(platform::TableView&, int section) override;
  std::optional<double> heightForHeaderInSection(platform::TableView&, int) override;
  std::optional<double> heightForRowAtIndexPath(platform::TableView&,
                                                const platform::IndexPath&) override;
  std::shared_ptr<platform::View> viewForHeaderInSection(platform::TableView&,
                                                         int section) override;
  std::shared_ptr<platform::TableViewCell> cellForRowAtIndexPath(
      platform::TableView& table, const platform::IndexPath& path) override;
  void didSelectRowAtIndexPath(platform::TableView&, const platform::IndexPath& path) override;

  const std::shared_ptr<platform::Button>& btnRefresh() const { return _btnRefresh; }
  const std::shared_ptr<platform::TableView>& tableView() const { return _tableView; }
  const model::List<Area>& areas() const { return _areas; }
  int currExpendSectionIndex() const { return _currExpendSectionIndex; }
  int lastSectionIndex() const { return _lastSectionIndex; }
  // The header made for `section`, once the table asked for it.
  std::shared_ptr<AreaTableHeaderView> headerView(int section) const;
  const std::shared_ptr<LoginViewController>& loginViewController() const {
    return _loginViewController;
  }
  const std::shared_ptr<ProgressHUD>& progressHUD() const { return _progressHUD; }

 protected:
  explicit AreaViewController(std::optional<std::string> nibName = std::nullopt);

 private:
  // Shows `_areas` when there are any, else the retry button in their place.
  void showAreasOrRetry();
  // The stored tree when there is one, else the retry button; the notice either way.
  void fetchFailed();
  int childCount(int section) const;
  void openSection(int section, AreaTableHeaderView& header);

  std::shared_ptr<AreaDao> _areaDao;
  std::shared_ptr<platform::Button> _btnRefresh;
  std::shared_ptr<platform::TableView> _tableView;
  model::List<Area> _areas;
  int _currExpendSectionIndex = -1;
  int _lastSectionIndex = -1;
  std::map<std::string, std::shared_ptr<AreaTableHeaderView>> _headerViews;
  std::shared_ptr<ProgressHUD> _progressHUD;
  std::shared_ptr<LoginViewController> _loginViewController;
};
