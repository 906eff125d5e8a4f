#pragma once
// Paths: the application's folders, all under one home folder: CHENGHENG_HOME when set, else
// "$HOME/.chengheng". Tests give every test a home of its own (`setHome`). The temporary folder
// lies on the same file system as Documents, so finished downloads move by rename.

#include <string>

namespace platform {

class Paths {
 public:
  static std::string home();
  // Overrides the home folder for this process (tests); an empty text returns to the default.
  static void setHome(const std::string& path);

  // Each folder is made (with its parents) when asked for.
  static std::string documents();    // <home>/Documents
  static std::string library();      // <home>/Library (the analytics hit store's folder)
  static std::string caches();       // <home>/Library/Caches
  static std::string preferences();  // <home>/Library/Preferences
  static std::string temporary();    // <home>/tmp, ending without a slash

  // Joins two path pieces with one slash.
  static std::string join(const std::string& a, const std::string& b);
};

}  // namespace platform
