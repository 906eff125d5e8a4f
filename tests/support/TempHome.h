#pragma once
// Gives a test a home folder of its own under the system's temporary folder, removed afterwards,
// so tests run in parallel without sharing files. Constructing one sets the process's home
// (`platform::Paths::setHome`) to that folder; destroying it resets the home to the default and
// removes the folder. A test never sets the home by hand.

#include <string>

namespace testsupport {

class TempHome {
 public:
  TempHome();
  ~TempHome();
  TempHome(const TempHome&) = delete;
  TempHome& operator=(const TempHome&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A fresh empty folder under the system's temporary folder; the caller removes it.
std::string makeTempFolder(const std::string& prefix = "chengheng-test");

// The source tree (for fixtures under tests/fixtures).
std::string sourceDir();

}  // namespace testsupport
