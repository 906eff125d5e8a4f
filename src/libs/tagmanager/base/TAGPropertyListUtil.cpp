#include "tagmanager/base/TAGPropertyListUtil.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/dispatch/Queue.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyListSerialization.h"
#include "tagmanager/base/TAGLog.h"

namespace {

// Writes `bytes` to a temporary sibling of `path`, flushes it and renames it over `path`;
// the reason on failure.
std::optional<std::string> writeAtomically(const std::string& path, const std::string& bytes) {
  std::string temporary = path + ".XXXXXX";
  int fd = mkstemp(temporary.data());
  if (fd < 0) return std::string(std::strerror(errno));
  const char* data = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = ::write(fd, data, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      std::string reason = std::strerror(errno);
      ::close(fd);
      ::unlink(temporary.c_str());
      return reason;
    }
    data += n;
    left -= static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0) {
    std::string reason = std::strerror(errno);
    ::unlink(temporary.c_str());
    return reason;
  }
  return std::nullopt;
}

// One serial queue, so writes land in the order they were asked for. Never destroyed: writes
// may still be queued when the process exits.
std::shared_ptr<platform::dispatch::Queue> writeQueue() {
  static const auto* queue = new std::shared_ptr<platform::dispatch::Queue>(
      platform::dispatch::Queue::serial("tagmanager.propertylist"));
  return *queue;
}

bool writeToPath(const std::string& path, const std::string& name, const platform::Value& data) {
  platform::Error error;
  std::optional<std::string> bytes =
      platform::PropertyListSerialization::binaryDataWithPropertyList(data, &error);
  if (!bytes) {
    TAGLog::warning("Failed to Write property list " + name + " with error " +
                    error.localizedDescription());
    return false;
  }
  if (auto failure = writeAtomically(path, *bytes)) {
    TAGLog::warning("Failed to Write property list " + name + " with error " + *failure);
    return false;
  }
  return true;
}

}  // namespace

std::string TAGPropertyListUtil::plistFilePath(const std::string& name) {
  return platform::Paths::join(platform::Paths::documents(), name);
}

std::optional<platform::Value> TAGPropertyListUtil::readPropertyList(const std::string& name) {
  std::string path = plistFilePath(name);
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    TAGLog::debug("No plist file: " + path + " found.");
    return std::nullopt;
  }
  std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  platform::PropertyListFormat format = platform::PropertyListFormat::Binary;
  platform::Error error;
  auto list = platform::PropertyListSerialization::propertyListWithData(bytes, &format, &error);
  if (!list) {
    TAGLog::info("Error reading plist: " + error.localizedDescription() +
                 ", format: " + std::to_string(static_cast<int>(format)));
  }
  return list;
}

bool TAGPropertyListUtil::writePropertyList(const std::string& name, const platform::Value& data) {
  return writeToPath(plistFilePath(name), name, data);
}

void TAGPropertyListUtil::writePropertyListAsync(const std::string& name, platform::Value data) {
  writeQueue()->async([path = plistFilePath(name), name, data = std::move(data)] {
    writeToPath(path, name, data);
  });
}

bool TAGPropertyListUtil::removePropertyList(const std::string& name) {
  std::string path = plistFilePath(name);
  if (::unlink(path.c_str()) == 0) return true;
  if (errno != ENOENT) {
    TAGLog::error("Error clearing out plist: " + path + " with error: " + std::strerror(errno));
  }
  return false;
}
