#include "screens/login/AreaViewController.h"

#include <string>

#include "netstatus/NetWorkUtil.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TapGestureRecognizer.h"
#include "screens/common/ApplicationServices.h"
#include "screens/common/ScreenHUD.h"
#include "screens/common/ScreenLook.h"
#include "screens/login/LoginViewController.h"

namespace {

constexpr int kTitleTag = 999;

std::string sectionKey(int section) { return std::to_string(section); }

}  // namespace

AreaViewController::AreaViewController(std::optional<std::string> nibName)
    : BaseViewController(std::move(nibName)) {
  setTitle(std::string());
}

void AreaViewController::viewDidLoad() {
  BaseViewController::viewDidLoad();
  _areaDao = std::make_shared<AreaDao>();
  expendSectionView(0);
  initView();
  loadData();
}

void AreaViewController::expendSectionView(int section) {
  if (section < 0) section = 0;
  _currExpendSectionIndex = _lastSectionIndex = section;
}

void AreaViewController::initView() {
  // As the screen's nib has it: white behind the list, so the screen is not black while the
  // list is hidden, and a notice shows against it.
  view()->setBackgroundColor(platform::Color::whiteColor());
  _btnRefresh = screenlook::retryButton(
      {80, 100, 162, 36}, screenlook::weakAction(*this, &AreaViewController::refreshBtnClick));
  view()->addSubview(_btnRefresh);
  // Added after the button, which it covers while it shows the list.
  _tableView =
      screenlook::listTable({0, 0, 320, screenlook::isTallScreen() ? 504.0 : 416.0}, *this);
  view()->addSubview(_tableView);
}

void AreaViewController::loadData() {
  if (!NetWorkUtil::netWorkIsEnable()) {
    _areas = _areaDao->queryAll();
    if (_areas.empty()) {
      screenlook::showAlert(std::string("提示"), std::string("第一次使用请连接网络"), "确定");
    }
    showAreasOrRetry();
    return;
  }
  screenhud::showWaitHUD(_progressHUD, view(), "请稍候");
  auto services = ApplicationServices::shared();
  if (!services || !services->netWork()) return;
  std::weak_ptr<AreaViewController> weak =
      std::static_pointer_cast<AreaViewController>(shared_from_this());
  services->netWork()->getAllAreas(
      [weak](const model::List<Area>& areas) {
        auto self = weak.lock();
        if (!self) return;
        // An answer that yields no region (a page that is not the region list, an empty one)
        // says nothing about the regions; the stored ones still lead to the offline login.
        if (areas.empty()) return self->fetchFailed();
        self->_areas = areas;
        self->_areaDao->updateAreas(areas);
        self->refreshView();
        self->showAreasOrRetry();
      },
      [weak](const platform::Error&) {
        if (auto self = weak.lock()) self->fetchFailed();
      });
}

void AreaViewController::fetchFailed() {
  // A network that is up does not mean the course server answers; the tree stored by an
  // earlier fetch still leads to the offline login and the downloaded lectures.
  auto stored = _areaDao->queryAll();
  if (stored.empty()) {
    screenhud::showLoadFailure(_progressHUD, *_btnRefresh, *_tableView);
    return;
  }
  screenhud::hideWaitHUD(_progressHUD);
  screenhud::showNetworkNotice();
  _areas = std::move(stored);
  showAreasOrRetry();
}

void AreaViewController::showAreasOrRetry() {
  bool shown = !_areas.empty();
  if (shown) _tableView->reloadData();
  _tableView->setHidden(!shown);
  _btnRefresh->setHidden(shown);
}

void AreaViewController::refreshView() {
  _tableView->reloadData();
  screenhud::hideWaitHUD(_progressHUD);
}

void AreaViewController::refreshBtnClick() {
  _btnRefresh->setHidden(true);
  loadData();
}

int AreaViewController::childCount(int section) const {
  if (section < 0 || section >= static_cast<int>(_areas.size())) return 0;
  const auto& children = _areas[section]->childArray();
  return children ? static_cast<int>(children->size()) : 0;
}

std::optional<int> AreaViewController::numberOfSectionsInTableView(platform::TableView&) {
  return static_cast<int>(_areas.size());
}

int AreaViewController::numberOfRowsInSection(platform::TableView&, int section) {
  return section == _currExpendSectionIndex ? childCount(section) : 0;
}

std::optional<double> AreaViewController::heightForHeaderInSection(platform::TableView&, int) {
  return kRowHeight;
}

std::optional<double> AreaViewController::heightForRowAtIndexPath(platform::TableView&,
                                                                  const platform::IndexPath&) {
  return kRowHeight;
}

std::shared_ptr<AreaTableHeaderView> AreaViewController::headerView(int section) const {
  auto found = _headerViews.find(sectionKey(section));
  return found == _headerViews.end() ? nullptr : found->second;
}

std::shared_ptr<platform::View> AreaViewController::viewForHeaderInSection(platform::TableView&,
                                                                           int section) {
  auto header = headerView(section);
  if (!header) {
    header = AreaTableHeaderView::create(platform::Rect{0, 0, 320, kRowHeight});
    _headerViews[sectionKey(section)] = header;
    auto title = platform::Label::create(platform::Rect{22, 0, 300, kRowHeight});
    title->setTag(kTitleTag);
    title->setFont(platform::Font::systemFont(18));
    title->setBackgroundColor(platform::Color::clearColor());
    header->addSubview(title);
    auto tap = std::make_shared<platform::TapGestureRecognizer>();
    tap->addTarget(std::static_pointer_cast<AreaViewController>(shared_from_this()),
                   &AreaViewController::tapHeadView);
    header->addGestureRecognizer(tap);
  }
  header->setSelectState(section == _currExpendSectionIndex ? AreaTableHeaderView::kExpanded
                                                            : AreaTableHeaderView::kCollapsed);
  if (auto title = std::dynamic_pointer_cast<platform::Label>(header->viewWithTag(kTitleTag)))
    title->setText(_areas[section]->name().value_or(""));
  if (!_areas[section]->childArray()) header->setSelectState(AreaTableHeaderView::kHighlighted);
  header->setTag(section);
  return header;
}

std::shared_ptr<platform::TableViewCell> AreaViewController::cellForRowAtIndexPath(
    platform::TableView& table, const platform::IndexPath& path) {
  auto cell = table.dequeueReusableCellWithIdentifier(kCellIdentifier);
  if (!cell)
    cell = platform::TableViewCell::create(platform::TableViewCellStyle::Default,
                                           std::string(kCellIdentifier));
  const auto& area = (*_areas[path.section]->childArray())[path.row];
  auto label = cell->textLabel();
  label->setText("   " + area->name().value_or(""));
  label->setFont(platform::Font::systemFont(14));
  platform::Rect frame = label->frame();
  label->setFrame({frame.x() + 20, frame.y(), frame.width(), frame.height()});
  label->setBackgroundColor(screenlook::kLightBand);
  cell->contentView()->setBackgroundColor(screenlook::kLightBand);
  label->setHighlightedTextColor(platform::Color::blackColor());
  cell->setSelectedBackgroundView(
      screenlook::filledView({0, 0, 320, 44}, screenlook::kSelectedRow));
  return cell;
}

void AreaViewController::didSelectRowAtIndexPath(platform::TableView&,
                                                 const platform::IndexPath& path) {
  showLoginView((*_areas[path.section]->childArray())[path.row]);
}

void AreaViewController::openSection(int section, AreaTableHeaderView& header) {
  _tableView->beginUpdates();
  header.setSelectState(AreaTableHeaderView::kExpanded);
  _currExpendSectionIndex = section;
  std::vector<platform::IndexPath> rows;
  for (int r = 0; r < childCount(section); ++r) rows.push_back({section, r});
  _tableView->insertRowsAtIndexPaths(rows, platform::TableViewRowAnimation::None);
  _tableView->endUpdates();
}

void AreaViewController::tapHeadView(platform::GestureRecognizer& recognizer) {
  auto* tapped = dynamic_cast<AreaTableHeaderView*>(recognizer.view());
  if (!tapped) return;
  const int section = tapped->tag();
  _currExpendSectionIndex = -1;
  bool reopen = true;
  if (_lastSectionIndex != -1) {
    auto open = headerView(_lastSectionIndex);
    if (open && open->selectState() == AreaTableHeaderView::kExpanded) {
      open->setSelectState(AreaTableHeaderView::kCollapsed);
      _tableView->beginUpdates();
      std::vector<platform::IndexPath> rows;
      for (int r = 0; r < childCount(_lastSectionIndex); ++r)
        rows.push_back({_lastSectionIndex, r});
      _tableView->deleteRowsAtIndexPaths(rows, platform::TableViewRowAnimation::None);
      _tableView->endUpdates();
      reopen = false;
    }
  }
  if (_lastSectionIndex != section) {
    openSection(section, *tapped);
    _lastSectionIndex = section;
  } else if (reopen && _currExpendSectionIndex == -1) {
    openSection(section, *tapped);
  }
  if (_lastSectionIndex < 0 || _lastSectionIndex >= static_cast<int>(_areas.size())) return;
  const auto& area = _areas[_lastSectionIndex];
  if (!area->childArray() || area->childArray()->empty()) {
    showLoginView(area);
    tapped->setSelectState(AreaTableHeaderView::kHighlighted);
    tapped->setBackgroundColor(screenlook::kSelectedRow);
  }
}

void AreaViewController::showLoginView(const std::shared_ptr<Area>& area) {
  if (!_loginViewController)
    _loginViewController = LoginViewController::create(std::string("LoginViewController"));
  _loginViewController->setArea(area);
  if (auto nav = navigationController()) nav->pushViewController(_loginViewController, true);
}
