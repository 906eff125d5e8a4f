#pragma once
// CheckVersion: asks the application store's lookup service for the latest published version
// of this application, compares it with the running bundle's "CFBundleVersion" and tells the
// learner in an alert; when the store is ahead, the learner may jump to the store page.
//
// The settings screen's version check button calls `checkVersion`. Every operation is a class
// operation, called on the main thread. The lookup runs off the main thread; its result, every
// alert and the store page are handled on the main thread. Failures are silent: a transport
// error, an empty body, an answer that is not JSON or that has no match shows nothing. The
// alerts go through the CheckVersionUI the screen layer installs; without one, nothing is shown.

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "net/CheckVersionUI.h"

class CheckVersion {
 public:
  // Starts one lookup and returns at once. `finished`, when given, runs on the main thread once
  // the check has shown what it shows (or decided to show nothing).
  static void checkVersion(std::function<void()> finished = nullptr);
  // The two steps of an answer that is ahead of the bundle: `checkVersion` shows the alert, and
  // the alert's button handler passes the learner's choice to `alertView`.
  // The update alert for the store's version text.
  static void showAlertWithAppStoreVersion(const std::string& version);
  // The update alert's answer: index 1 opens the store page; any other does nothing.
  static void alertView(int buttonIndex);

  static void setUI(std::shared_ptr<CheckVersionUI> ui);

  // The "version" texts of the matches in a lookup answer, in order; none for a body that is
  // not JSON, has no "results" list or no match with a version text.
  static std::vector<std::string> storeVersions(std::string_view answer);

  // Deployment values: the lookup host, the store's web host and the application's store
  // identifier. Compiled-in defaults; a scripted run or a test may move them.
  static void setEndpoints(std::string lookupHost, std::string storeHost, std::string storeId);

 private:
  // "http://<lookup host>/lookup?id=<store id>"
  static std::string lookupURL();
  // "https://<store host>/app/id<store id>"
  static std::string storePageURL();
};
