#include "support/TempHome.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "platform/foundation/Paths.h"

namespace testsupport {

std::string makeTempFolder(const std::string& prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed for " + pattern);
  return buffer.data();
}

TempHome::TempHome() : path_(makeTempFolder("chengheng-home")) { platform::Paths::setHome(path_); }

TempHome::~TempHome() {
  platform::Paths::setHome("");
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string sourceDir() {
  const char* dir = std::getenv("CHENGHENG_TEST_SOURCE_DIR");
  return dir ? dir : CHENGHENG_SOURCE_DIR;
}

}  // namespace testsupport
