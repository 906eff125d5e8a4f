#pragma once
// SystemInfo: the facts of the device that hits and user agents carry, as uname(2) gives them
// on Linux: the machine's architecture as the model ("x86_64"), the kernel's name and release as
// the system name and version ("Linux", "6.1.0-13-amd64"). Read once; any thread.

#include <string>

namespace platform {

class SystemInfo {
 public:
  static const SystemInfo& current();

  const std::string& model() const { return model_; }
  const std::string& systemName() const { return systemName_; }
  const std::string& systemVersion() const { return systemVersion_; }

 private:
  SystemInfo();
  std::string model_;
  std::string systemName_;
  std::string systemVersion_;
};

}  // namespace platform
