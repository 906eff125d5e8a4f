#pragma once
// A home folder of this process under the system's temporary folder, made the application's
// home while it lives and removed afterwards, for fuzz targets whose parser reads files the
// application keeps there. Made once per process (a function-local static).

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/foundation/Paths.h"

class ScratchHome {
 public:
  explicit ScratchHome(const std::string& name) {
    namespace fs = std::filesystem;
    std::string pattern = (fs::temp_directory_path() / ("chengheng-" + name + "-XXXXXX")).string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) std::abort();
    path_ = buffer.data();
    platform::Paths::setHome(path_);
  }
  ~ScratchHome() {
    platform::Paths::setHome("");
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchHome(const ScratchHome&) = delete;
  ScratchHome& operator=(const ScratchHome&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};
