#pragma once
// GlobalModel: the state of the current login, one per process: who is logged in, in which
// region and how, the user's course tree, the years chosen on two screens, two reload flags, the
// last network status and the main tab bar controller. It holds no logic: every operation is a
// field read or write. Only its creation is guarded; the fields are read and written on the
// main thread without locks, and every setter checks that in debug builds (a write from another
// thread would race with every reader). The screens are its writers and most of its readers; the
// course client, the stores, the local media server and the shell read it too.

#include <memory>
#include <optional>
#include <string>

#include "model/Course.h"
#include "model/ModelTypes.h"
#include "platform/foundation/Thread.h"

class MirelTabBarController;

class GlobalModel {
 public:
  // Login states kept in `loginState`.
  static constexpr int kLoginOnline = 0;
  static constexpr int kLoginOffline = 1;
  static constexpr int kLoggedOut = 3;

  // The one instance, made on the first call (safe from several threads at once) and kept until
  // the process ends.
  static std::shared_ptr<GlobalModel> sharedModel();

  int userId() const { return _userId; }
  void setUserId(int v) {
    platform::assertMainThread("GlobalModel::setUserId");
    _userId = v;
  }
  const model::Text& areaCode() const { return _areaCode; }
  void setAreaCode(model::Text v) {
    platform::assertMainThread("GlobalModel::setAreaCode");
    _areaCode = std::move(v);
  }
  const model::Text& areaName() const { return _areaName; }
  void setAreaName(model::Text v) {
    platform::assertMainThread("GlobalModel::setAreaName");
    _areaName = std::move(v);
  }
  int loginState() const { return _loginState; }
  void setLoginState(int v) {
    platform::assertMainThread("GlobalModel::setLoginState");
    _loginState = v;
  }
  const model::OptionalList<Course>& courses() const { return _courses; }
  void setCourses(model::OptionalList<Course> v) {
    platform::assertMainThread("GlobalModel::setCourses");
    _courses = std::move(v);
  }
  int currentYearIndex() const { return _currentYearIndex; }
  void setCurrentYearIndex(int v) {
    platform::assertMainThread("GlobalModel::setCurrentYearIndex");
    _currentYearIndex = v;
  }
  int downYearIndex() const { return _downYearIndex; }
  void setDownYearIndex(int v) {
    platform::assertMainThread("GlobalModel::setDownYearIndex");
    _downYearIndex = v;
  }
  bool isRefresh() const { return _isRefresh; }
  void setIsRefresh(bool v) {
    platform::assertMainThread("GlobalModel::setIsRefresh");
    _isRefresh = v;
  }
  bool downloadRefresh() const { return _downloadRefresh; }
  void setDownloadRefresh(bool v) {
    platform::assertMainThread("GlobalModel::setDownloadRefresh");
    _downloadRefresh = v;
  }
  // "ReachableViaWiFi", "ReachableViaWWAN" or "NotReachable"; absent until the first change.
  const model::Text& GlobalNetWorkStatus() const { return _GlobalNetWorkStatus; }
  void setGlobalNetWorkStatus(model::Text v) {
    platform::assertMainThread("GlobalModel::setGlobalNetWorkStatus");
    _GlobalNetWorkStatus = std::move(v);
  }
  // Not owned: the navigation stack owns the controller, so this answers null once it is gone.
  std::shared_ptr<MirelTabBarController> tabBarViewController() const {
    return _tabBarViewController.lock();
  }
  void setTabBarViewController(const std::shared_ptr<MirelTabBarController>& v) {
    platform::assertMainThread("GlobalModel::setTabBarViewController");
    _tabBarViewController = v;
  }

 private:
  int _userId = 0;
  model::Text _areaCode;
  model::Text _areaName;
  int _loginState = kLoginOnline;
  model::OptionalList<Course> _courses;
  int _currentYearIndex = 0;
  int _downYearIndex = 0;
  bool _isRefresh = false;
  bool _downloadRefresh = false;
  model::Text _GlobalNetWorkStatus;
  std::weak_ptr<MirelTabBarController> _tabBarViewController;
};
