#pragma once
// TableView: a scrolling list of rows in sections, filled through its data source and shaped
// by its delegate. Only the rows inside the visible window (the bounds, at the content offset)
// are realised as cells; a cell that scrolls out goes into the reuse pool of its identifier and
// comes back from `dequeueReusableCellWithIdentifier`. Cells are realised when the table lays
// itself out, which every query of cells does first.
//
// Row insertions and deletions, alone or grouped between beginUpdates and endUpdates, are
// checked as the platform checks them: the data source's new row count of every section must
// equal the old one plus the rows inserted and minus the rows deleted, deletions must name
// existing rows and insertions rows that exist afterwards; otherwise an Exception named
// "NSInternalInconsistencyException" is raised and the table keeps its old rows.
//
// The data source and delegate are not owned.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/IndexPath.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/TableViewCell.h"

namespace platform {

class TableView;

class TableViewDataSource {
 public:
  virtual ~TableViewDataSource() = default;
  // Absent: one section.
  virtual std::optional<int> numberOfSectionsInTableView(TableView&) { return std::nullopt; }
  virtual int numberOfRowsInSection(TableView&, int section) = 0;
  virtual std::shared_ptr<TableViewCell> cellForRowAtIndexPath(TableView&, const IndexPath&) = 0;
  virtual std::optional<std::string> titleForHeaderInSection(TableView&, int) {
    return std::nullopt;
  }
  virtual bool canEditRowAtIndexPath(TableView&, const IndexPath&) { return true; }
};

enum class TableViewCellEditingStyle { None = 0, Delete, Insert };

class TableViewDelegate : public ScrollViewDelegate {
 public:
  // Absent answers fall back to the table's own heights.
  virtual std::optional<double> heightForRowAtIndexPath(TableView&, const IndexPath&) {
    return std::nullopt;
  }
  virtual std::optional<double> heightForHeaderInSection(TableView&, int) { return std::nullopt; }
  virtual std::optional<double> heightForFooterInSection(TableView&, int) { return std::nullopt; }
  virtual std::shared_ptr<View> viewForHeaderInSection(TableView&, int) { return nullptr; }
  virtual std::shared_ptr<View> viewForFooterInSection(TableView&, int) { return nullptr; }
  virtual void willDisplayCell(TableView&, TableViewCell&, const IndexPath&) {}
  virtual void didSelectRowAtIndexPath(TableView&, const IndexPath&) {}
  virtual void didDeselectRowAtIndexPath(TableView&, const IndexPath&) {}
  virtual std::optional<TableViewCellEditingStyle> editingStyleForRowAtIndexPath(TableView&,
                                                                                 const IndexPath&) {
    return std::nullopt;
  }
};

enum class TableViewStyle { Plain = 0, Grouped = 1 };
enum class TableViewRowAnimation {
  Fade = 0,
  Right,
  Left,
  Top,
  Bottom,
  None,
  Middle,
  Automatic = 100
};
enum class TableViewScrollPosition { None = 0, Top, Middle, Bottom };
enum class TableViewCellSeparatorStyle { None = 0, SingleLine, SingleLineEtched };

class TableView : public ScrollView {
  CH_SHARED_OBJECT(TableView)

 public:
  static constexpr double kDefaultRowHeight = 44;

  ~TableView() override;

  TableViewStyle style() const { return style_; }
  std::shared_ptr<TableViewDataSource> dataSource() const { return dataSource_.lock(); }
  void setDataSource(std::weak_ptr<TableViewDataSource> d);
  std::shared_ptr<TableViewDelegate> tableDelegate() const { return tableDelegate_.lock(); }
  // Also the scroll view's delegate.
  void setDelegate(std::weak_ptr<TableViewDelegate> d);

  double rowHeight() const { return rowHeight_; }
  void setRowHeight(double h) {
    rowHeight_ = h;
    setNeedsLayout();
  }
  double sectionHeaderHeight() const { return sectionHeaderHeight_; }
  void setSectionHeaderHeight(double h) { sectionHeaderHeight_ = h; }
  double sectionFooterHeight() const { return sectionFooterHeight_; }
  void setSectionFooterHeight(double h) { sectionFooterHeight_ = h; }
  TableViewCellSeparatorStyle separatorStyle() const { return separatorStyle_; }
  void setSeparatorStyle(TableViewCellSeparatorStyle s) { separatorStyle_ = s; }
  std::optional<Color> separatorColor() const { return separatorColor_; }
  void setSeparatorColor(std::optional<Color> c) { separatorColor_ = c; }
  std::shared_ptr<View> backgroundView() const { return backgroundView_; }
  void setBackgroundView(std::shared_ptr<View> view);
  std::shared_ptr<View> tableHeaderView() const { return tableHeaderView_; }
  void setTableHeaderView(std::shared_ptr<View> view);
  std::shared_ptr<View> tableFooterView() const { return tableFooterView_; }
  void setTableFooterView(std::shared_ptr<View> view);
  bool allowsSelection() const { return allowsSelection_; }
  void setAllowsSelection(bool a) { allowsSelection_ = a; }
  bool allowsSelectionDuringEditing() const { return allowsSelectionDuringEditing_; }
  void setAllowsSelectionDuringEditing(bool a) { allowsSelectionDuringEditing_ = a; }
  bool isEditing() const { return editing_; }
  void setEditing(bool editing, bool animated = false);

  // Data.
  void reloadData();
  int numberOfSections();
  int numberOfRowsInSection(int section);
  std::shared_ptr<TableViewCell> dequeueReusableCellWithIdentifier(const std::string& identifier);

  // Updates.
  void beginUpdates();
  void endUpdates();
  void insertRowsAtIndexPaths(const std::vector<IndexPath>& paths, TableViewRowAnimation animation);
  void deleteRowsAtIndexPaths(const std::vector<IndexPath>& paths, TableViewRowAnimation animation);
  void reloadRowsAtIndexPaths(const std::vector<IndexPath>& paths, TableViewRowAnimation animation);
  void reloadSections(const std::vector<int>& sections, TableViewRowAnimation animation);

  // Cells and rows (the table lays itself out first).
  std::shared_ptr<TableViewCell> cellForRowAtIndexPath(const IndexPath& path);
  std::vector<std::shared_ptr<TableViewCell>> visibleCells();
  std::vector<IndexPath> indexPathsForVisibleRows();
  std::optional<IndexPath> indexPathForCell(const TableViewCell* cell) const;
  Rect rectForRowAtIndexPath(const IndexPath& path);
  Rect rectForSection(int section);
  // The header view shown for `section`, when it is realised.
  std::shared_ptr<View> headerViewForSection(int section);
  void scrollToRowAtIndexPath(const IndexPath& path, TableViewScrollPosition position,
                              bool animated);

  // Selection.
  std::optional<IndexPath> indexPathForSelectedRow() const { return selected_; }
  void selectRowAtIndexPath(const std::optional<IndexPath>& path, bool animated,
                            TableViewScrollPosition position);
  void deselectRowAtIndexPath(const IndexPath& path, bool animated);
  // A user's tap on the row: selects it and tells the delegate.
  void userSelectRow(const IndexPath& path);

  void layoutSubviews() override;

 protected:
  explicit TableView(const Rect& frame = {}, TableViewStyle style = TableViewStyle::Plain);

  void didChangeContentOffset() override { setNeedsLayout(); }

 private:
  struct SectionInfo {
    int rows = 0;
    double top = 0;
    double headerHeight = 0;
    double footerHeight = 0;
    std::vector<double> rowTops;
    std::vector<double> rowHeights;
  };
  void ensureCounts();
  void computeGeometry();
  void recycleAll();
  void recycle(const IndexPath& path);
  void realiseVisible();
  void applyUpdates();

  TableViewStyle style_;
  std::weak_ptr<TableViewDataSource> dataSource_;
  std::weak_ptr<TableViewDelegate> tableDelegate_;
  double rowHeight_ = kDefaultRowHeight;
  double sectionHeaderHeight_ = 22;
  double sectionFooterHeight_ = 22;
  TableViewCellSeparatorStyle separatorStyle_ = TableViewCellSeparatorStyle::SingleLine;
  std::optional<Color> separatorColor_;
  std::shared_ptr<View> backgroundView_;
  std::shared_ptr<View> tableHeaderView_;
  std::shared_ptr<View> tableFooterView_;
  bool allowsSelection_ = true;
  bool allowsSelectionDuringEditing_ = false;
  bool editing_ = false;

  bool countsValid_ = false;
  std::vector<SectionInfo> sections_;
  std::map<IndexPath, std::shared_ptr<TableViewCell>> cells_;
  std::map<int, std::shared_ptr<View>> headers_;
  std::map<int, std::shared_ptr<View>> footers_;
  std::map<std::string, std::vector<std::shared_ptr<TableViewCell>>> reusePool_;
  std::optional<IndexPath> selected_;

  int updateDepth_ = 0;
  std::vector<IndexPath> pendingInserts_;
  std::vector<IndexPath> pendingDeletes_;
};

}  // namespace platform
