#include "platform/ui/TableView.h"

#include <algorithm>

#include "platform/foundation/Assert.h"
#include "platform/foundation/Thread.h"

namespace platform {

namespace {
const char* const kInconsistency = "NSInternalInconsistencyException";
}

TableView::TableView(const Rect& frame, TableViewStyle style) : ScrollView(frame), style_(style) {
  setBackgroundColor(style == TableViewStyle::Grouped ? Color::groupTableViewBackground()
                                                      : Color::whiteColor());
  if (style == TableViewStyle::Grouped) {
    sectionHeaderHeight_ = 10;
    sectionFooterHeight_ = 10;
  }
}

TableView::~TableView() = default;

void TableView::setDataSource(std::weak_ptr<TableViewDataSource> d) {
  dataSource_ = std::move(d);
  countsValid_ = false;
  setNeedsLayout();
}

void TableView::setDelegate(std::weak_ptr<TableViewDelegate> d) {
  tableDelegate_ = d;
  ScrollView::setDelegate(std::weak_ptr<ScrollViewDelegate>(d.lock()));
  countsValid_ = false;
  setNeedsLayout();
}

void TableView::setBackgroundView(std::shared_ptr<View> view) {
  if (backgroundView_) backgroundView_->removeFromSuperview();
  backgroundView_ = std::move(view);
  if (backgroundView_) insertSubview(backgroundView_, 0);
  setNeedsLayout();
}

void TableView::setTableHeaderView(std::shared_ptr<View> view) {
  if (tableHeaderView_) tableHeaderView_->removeFromSuperview();
  tableHeaderView_ = std::move(view);
  if (tableHeaderView_) addSubview(tableHeaderView_);
  countsValid_ = false;
  setNeedsLayout();
}

void TableView::setTableFooterView(std::shared_ptr<View> view) {
  if (tableFooterView_) tableFooterView_->removeFromSuperview();
  tableFooterView_ = std::move(view);
  if (tableFooterView_) addSubview(tableFooterView_);
  countsValid_ = false;
  setNeedsLayout();
}

void TableView::setEditing(bool editing, bool animated) {
  editing_ = editing;
  for (auto& [path, cell] : cells_) cell->setEditing(editing, animated);
  setNeedsLayout();
}

void TableView::ensureCounts() {
  if (countsValid_) return;
  auto source = dataSource();
  sections_.clear();
  int count = 0;
  if (source) count = source->numberOfSectionsInTableView(*this).value_or(1);
  for (int s = 0; s < count; ++s) {
    SectionInfo info;
    info.rows = std::max(0, source->numberOfRowsInSection(*this, s));
    sections_.push_back(std::move(info));
  }
  countsValid_ = true;
  computeGeometry();
}

void TableView::computeGeometry() {
  auto source = dataSource();
  auto d = tableDelegate();
  double width = bounds().width();
  double y = 0;
  if (tableHeaderView_) {
    Rect f = tableHeaderView_->frame();
    tableHeaderView_->setFrame({0, 0, width, f.height()});
    y = f.height();
  }
  bool grouped = style_ == TableViewStyle::Grouped;
  for (int s = 0; s < static_cast<int>(sections_.size()); ++s) {
    SectionInfo& info = sections_[s];
    info.top = y;
    std::optional<double> header = d ? d->heightForHeaderInSection(*this, s) : std::nullopt;
    bool titled = source && source->titleForHeaderInSection(*this, s).has_value();
    info.headerHeight = header.value_or(titled || grouped ? sectionHeaderHeight_ : 0);
    y += info.headerHeight;
    info.rowTops.assign(info.rows, 0);
    info.rowHeights.assign(info.rows, 0);
    for (int r = 0; r < info.rows; ++r) {
      info.rowTops[r] = y;
      info.rowHeights[r] =
          d ? d->heightForRowAtIndexPath(*this, {s, r}).value_or(rowHeight_) : rowHeight_;
      y += info.rowHeights[r];
    }
    std::optional<double> footer = d ? d->heightForFooterInSection(*this, s) : std::nullopt;
    info.footerHeight = footer.value_or(grouped ? sectionFooterHeight_ : 0);
    y += info.footerHeight;
  }
  if (tableFooterView_) {
    Rect f = tableFooterView_->frame();
    tableFooterView_->setFrame({0, y, width, f.height()});
    y += f.height();
  }
  setContentSize({width, y});
}

void TableView::reloadData() {
  assertMainThread("TableView::reloadData");
  recycleAll();
  selected_.reset();
  countsValid_ = false;
  ensureCounts();
  setNeedsLayout();
}

int TableView::numberOfSections() {
  ensureCounts();
  return static_cast<int>(sections_.size());
}

int TableView::numberOfRowsInSection(int section) {
  ensureCounts();
  if (section < 0 || section >= static_cast<int>(sections_.size())) return 0;
  return sections_[section].rows;
}

std::shared_ptr<TableViewCell> TableView::dequeueReusableCellWithIdentifier(
    const std::string& identifier) {
  auto it = reusePool_.find(identifier);
  if (it == reusePool_.end() || it->second.empty()) return nullptr;
  auto cell = it->second.back();
  it->second.pop_back();
  cell->prepareForReuse();
  return cell;
}

void TableView::recycle(const IndexPath& path) {
  auto it = cells_.find(path);
  if (it == cells_.end()) return;
  auto cell = it->second;
  cells_.erase(it);
  cell->removeFromSuperview();
  cell->setSelected(false, false);
  if (cell->reuseIdentifier()) reusePool_[*cell->reuseIdentifier()].push_back(cell);
}

void TableView::recycleAll() {
  while (!cells_.empty()) recycle(cells_.begin()->first);
  for (auto& [s, v] : headers_) v->removeFromSuperview();
  for (auto& [s, v] : footers_) v->removeFromSuperview();
  headers_.clear();
  footers_.clear();
}

void TableView::realiseVisible() {
  auto source = dataSource();
  auto d = tableDelegate();
  Rect visible = bounds();
  double width = visible.width();
  // Rows leaving the window go back to the pool first, so they can be reused at once.
  std::vector<IndexPath> leaving;
  for (auto& [path, cell] : cells_) {
    bool valid = path.section < static_cast<int>(sections_.size()) &&
                 path.row < sections_[path.section].rows;
    if (!valid || !Rect(0, sections_[path.section].rowTops[path.row], width,
                        sections_[path.section].rowHeights[path.row])
                       .intersects(visible)) {
      leaving.push_back(path);
    }
  }
  for (auto& path : leaving) recycle(path);
  for (int s = 0; s < static_cast<int>(sections_.size()); ++s) {
    const SectionInfo& info = sections_[s];
    Rect headerRect{0, info.top, width, info.headerHeight};
    if (info.headerHeight > 0 && headerRect.intersects(visible)) {
      if (!headers_.count(s)) {
        std::shared_ptr<View> header = d ? d->viewForHeaderInSection(*this, s) : nullptr;
        if (!header && source) {
          if (auto title = source->titleForHeaderInSection(*this, s)) {
            auto label = Label::create();
            label->setText("  " + *title);
            label->setFont(Font::boldSystemFont(17));
            label->setBackgroundColor(Color::rgb255(160, 170, 180));
            header = label;
          }
        }
        if (header) headers_[s] = header;
      }
      if (headers_.count(s)) {
        headers_[s]->setFrame(headerRect);
        addSubview(headers_[s]);
      }
    } else if (headers_.count(s)) {
      headers_[s]->removeFromSuperview();
      headers_.erase(s);
    }
    Rect footerRect{0,
                    info.rowTops.empty() ? info.top + info.headerHeight
                                         : info.rowTops.back() + info.rowHeights.back(),
                    width, info.footerHeight};
    if (info.footerHeight > 0 && footerRect.intersects(visible)) {
      if (!footers_.count(s) && d) {
        if (auto footer = d->viewForFooterInSection(*this, s)) footers_[s] = footer;
      }
      if (footers_.count(s)) {
        footers_[s]->setFrame(footerRect);
        addSubview(footers_[s]);
      }
    } else if (footers_.count(s)) {
      footers_[s]->removeFromSuperview();
      footers_.erase(s);
    }
    for (int r = 0; r < info.rows; ++r) {
      Rect rowRect{0, info.rowTops[r], width, info.rowHeights[r]};
      if (!rowRect.intersects(visible)) continue;
      IndexPath path{s, r};
      auto it = cells_.find(path);
      if (it == cells_.end()) {
        std::shared_ptr<TableViewCell> cell =
            source ? source->cellForRowAtIndexPath(*this, path) : nullptr;
        if (!cell) {
          throw Exception(kInconsistency,
                          "UITableView dataSource must return a cell from "
                          "tableView:cellForRowAtIndexPath: (row " +
                              path.description() + ")");
        }
        cells_[path] = cell;
        cell->setFrame(rowRect);
        cell->setEditing(editing_, false);
        cell->setSelected(selected_ == path, false);
        insertSubview(cell, backgroundView_ ? 1 : 0);
        if (d) d->willDisplayCell(*this, *cell, path);
      } else {
        it->second->setFrame(rowRect);
      }
    }
  }
}

void TableView::layoutSubviews() {
  assertMainThread("TableView::layoutSubviews");
  ensureCounts();
  computeGeometry();
  if (backgroundView_) backgroundView_->setFrame(bounds());
  realiseVisible();
}

void TableView::beginUpdates() {
  assertMainThread("TableView::beginUpdates");
  if (updateDepth_++ == 0) {
    ensureCounts();
    pendingInserts_.clear();
    pendingDeletes_.clear();
  }
}

void TableView::endUpdates() {
  assertMainThread("TableView::endUpdates");
  if (updateDepth_ == 0) return;
  if (--updateDepth_ > 0) return;
  applyUpdates();
}

void TableView::insertRowsAtIndexPaths(const std::vector<IndexPath>& paths, TableViewRowAnimation) {
  beginUpdates();
  pendingInserts_.insert(pendingInserts_.end(), paths.begin(), paths.end());
  endUpdates();
}

void TableView::deleteRowsAtIndexPaths(const std::vector<IndexPath>& paths, TableViewRowAnimation) {
  beginUpdates();
  pendingDeletes_.insert(pendingDeletes_.end(), paths.begin(), paths.end());
  endUpdates();
}

void TableView::reloadRowsAtIndexPaths(const std::vector<IndexPath>& paths, TableViewRowAnimation) {
  for (const auto& p : paths) recycle(p);
  setNeedsLayout();
}

void TableView::reloadSections(const std::vector<int>& sections, TableViewRowAnimation) {
  for (int s : sections) {
    std::vector<IndexPath> inSection;
    for (auto& [p, c] : cells_) {
      if (p.section == s) inSection.push_back(p);
    }
    for (auto& p : inSection) recycle(p);
  }
  countsValid_ = false;
  setNeedsLayout();
}

void TableView::applyUpdates() {
  auto inserts = std::move(pendingInserts_);
  auto deletes = std::move(pendingDeletes_);
  pendingInserts_.clear();
  pendingDeletes_.clear();
  if (inserts.empty() && deletes.empty()) return;
  auto source = dataSource();
  int oldSections = static_cast<int>(sections_.size());
  int newSections = source ? source->numberOfSectionsInTableView(*this).value_or(1) : 0;
  if (newSections != oldSections) {
    throw Exception(
        kInconsistency,
        "Invalid update: invalid number of sections. The number of sections contained "
        "in the table view after the update (" +
            std::to_string(newSections) +
            ") must be equal to the number of sections contained in the table view "
            "before the update (" +
            std::to_string(oldSections) +
            "), plus or minus the number of sections inserted or deleted (0 inserted, 0 "
            "deleted).");
  }
  std::vector<int> newRows(newSections);
  for (int s = 0; s < newSections; ++s) newRows[s] = source->numberOfRowsInSection(*this, s);
  for (const auto& p : deletes) {
    if (p.section < 0 || p.section >= oldSections || p.row < 0 ||
        p.row >= sections_[p.section].rows) {
      int rows = p.section >= 0 && p.section < oldSections ? sections_[p.section].rows : 0;
      throw Exception(kInconsistency, "attempt to delete row " + std::to_string(p.row) +
                                          " from section " + std::to_string(p.section) +
                                          " which only contains " + std::to_string(rows) +
                                          " rows before the update");
    }
  }
  for (const auto& p : inserts) {
    if (p.section < 0 || p.section >= newSections || p.row < 0 || p.row >= newRows[p.section]) {
      int rows = p.section >= 0 && p.section < newSections ? newRows[p.section] : 0;
      throw Exception(kInconsistency, "attempt to insert row " + std::to_string(p.row) +
                                          " into section " + std::to_string(p.section) +
                                          ", but there are only " + std::to_string(rows) +
                                          " rows in section " + std::to_string(p.section) +
                                          " after the update");
    }
  }
  for (int s = 0; s < newSections; ++s) {
    int inserted = static_cast<int>(std::count_if(
        inserts.begin(), inserts.end(), [s](const IndexPath& p) { return p.section == s; }));
    int deleted = static_cast<int>(std::count_if(
        deletes.begin(), deletes.end(), [s](const IndexPath& p) { return p.section == s; }));
    int before = sections_[s].rows;
    if (newRows[s] != before + inserted - deleted) {
      throw Exception(
          kInconsistency,
          "Invalid update: invalid number of rows in section " + std::to_string(s) +
              ". The number of rows contained in an existing section after the update (" +
              std::to_string(newRows[s]) +
              ") must be equal to the number of rows contained in that section before "
              "the update (" +
              std::to_string(before) +
              "), plus or minus the number of rows inserted or deleted from that "
              "section (" +
              std::to_string(inserted) + " inserted, " + std::to_string(deleted) + " deleted).");
    }
  }
  while (!cells_.empty()) recycle(cells_.begin()->first);
  selected_.reset();
  countsValid_ = false;
  ensureCounts();
  setNeedsLayout();
}

std::shared_ptr<TableViewCell> TableView::cellForRowAtIndexPath(const IndexPath& path) {
  layoutIfNeeded();
  auto it = cells_.find(path);
  return it == cells_.end() ? nullptr : it->second;
}

std::vector<std::shared_ptr<TableViewCell>> TableView::visibleCells() {
  layoutIfNeeded();
  std::vector<std::shared_ptr<TableViewCell>> result;
  for (auto& [path, cell] : cells_) result.push_back(cell);
  return result;
}

std::vector<IndexPath> TableView::indexPathsForVisibleRows() {
  layoutIfNeeded();
  std::vector<IndexPath> result;
  for (auto& [path, cell] : cells_) result.push_back(path);
  return result;
}

std::optional<IndexPath> TableView::indexPathForCell(const TableViewCell* cell) const {
  for (auto& [path, c] : cells_) {
    if (c.get() == cell) return path;
  }
  return std::nullopt;
}

Rect TableView::rectForRowAtIndexPath(const IndexPath& path) {
  ensureCounts();
  if (path.section < 0 || path.section >= static_cast<int>(sections_.size())) return {};
  const SectionInfo& info = sections_[path.section];
  if (path.row < 0 || path.row >= info.rows) return {};
  return {0, info.rowTops[path.row], bounds().width(), info.rowHeights[path.row]};
}

Rect TableView::rectForSection(int section) {
  ensureCounts();
  if (section < 0 || section >= static_cast<int>(sections_.size())) return {};
  const SectionInfo& info = sections_[section];
  double height = info.headerHeight + info.footerHeight;
  for (double h : info.rowHeights) height += h;
  return {0, info.top, bounds().width(), height};
}

std::shared_ptr<View> TableView::headerViewForSection(int section) {
  layoutIfNeeded();
  auto it = headers_.find(section);
  return it == headers_.end() ? nullptr : it->second;
}

void TableView::scrollToRowAtIndexPath(const IndexPath& path, TableViewScrollPosition position,
                                       bool animated) {
  Rect row = rectForRowAtIndexPath(path);
  if (row.isEmpty()) return;
  Rect b = bounds();
  Point max = maximumContentOffset();
  double y = b.y();
  switch (position) {
    case TableViewScrollPosition::Top:
      y = row.y();
      break;
    case TableViewScrollPosition::Middle:
      y = row.midY() - b.height() / 2;
      break;
    case TableViewScrollPosition::Bottom:
      y = row.maxY() - b.height();
      break;
    case TableViewScrollPosition::None:
      scrollRectToVisible(row, animated);
      return;
  }
  setContentOffset({b.x(), std::clamp(y, 0.0, max.y)}, animated);
}

void TableView::selectRowAtIndexPath(const std::optional<IndexPath>& path, bool animated,
                                     TableViewScrollPosition position) {
  if (selected_) {
    if (auto cell = cells_.count(*selected_) ? cells_[*selected_] : nullptr)
      cell->setSelected(false, animated);
  }
  selected_ = path;
  if (!path) return;
  if (position != TableViewScrollPosition::None) scrollToRowAtIndexPath(*path, position, animated);
  if (auto cell = cellForRowAtIndexPath(*path)) cell->setSelected(true, animated);
}

void TableView::deselectRowAtIndexPath(const IndexPath& path, bool animated) {
  if (selected_ != path) return;
  selected_.reset();
  auto it = cells_.find(path);
  if (it != cells_.end()) it->second->setSelected(false, animated);
}

void TableView::userSelectRow(const IndexPath& path) {
  if (editing_ ? !allowsSelectionDuringEditing_ : !allowsSelection_) return;
  auto keep = shared_from_this();
  auto d = tableDelegate();
  if (selected_ && *selected_ != path) {
    IndexPath previous = *selected_;
    deselectRowAtIndexPath(previous, false);
    if (d) d->didDeselectRowAtIndexPath(*this, previous);
  }
  selected_ = path;
  auto it = cells_.find(path);
  if (it != cells_.end()) it->second->setSelected(true, false);
  if (d) d->didSelectRowAtIndexPath(*this, path);
}

}  // namespace platform
