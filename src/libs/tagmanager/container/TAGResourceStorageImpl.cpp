#include "tagmanager/container/TAGResourceStorageImpl.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/foundation/Assert.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyListSerialization.h"
#include "tagmanager/base/TAGAsyncUtil.h"
#include "tagmanager/base/TAGExceptionNames.h"
#include "tagmanager/base/TAGLog.h"
#include "tagmanager/container/TAGPServingRoot.h"
#include "tagmanager/container/TAGResourceLoader.h"
#include "tagmanager/container/TAGSerialization.h"
#include "tagmanager/manager/TAGPreviewManager.h"

namespace {

std::optional<std::string> readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return content.str();
}

// Writes `bytes` to a temporary sibling, flushes it and renames it over `path`.
bool replaceFile(const std::string& path, const std::string& bytes) {
  std::string temporary = path + ".XXXXXX";
  int fd = ::mkstemp(temporary.data());
  if (fd < 0) return false;
  std::size_t written = 0;
  while (written < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  bool ok = written == bytes.size() && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (ok) ok = ::rename(temporary.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(temporary.c_str());
  return ok;
}

// The bundle's default container "<id>.<extension>", expanded by `expand` from the file's bytes;
// none, with a warning, when there is no such file or it does not read.
template <class Expand>
std::shared_ptr<const TAGExpandedResource> loadExpandedDefault(const std::string& containerId,
                                                               const std::string& extension,
                                                               Expand expand) {
  auto path = platform::Bundle::main().pathForResource(containerId, extension);
  if (!path) {
    TAGLog::warning("Cannot find resource file '" + containerId + "." + extension + "'.");
    return nullptr;
  }
  TAGLog::verbose("loading default container from " + containerId + "." + extension);
  try {
    std::optional<std::string> bytes = readWholeFile(*path);
    if (!bytes) throw platform::Exception(kTAGFileHandleOperationException, "Unreadable file");
    return expand(*bytes);
  } catch (const platform::Exception& e) {
    TAGLog::warning("Error reading resource from " + extension + " file: " + e.name() + ": " +
                    e.what());
    return nullptr;
  }
}

// What this program saves is one fetched container with a little metadata; a larger file was
// not written by it, and reading it whole would cost memory for nothing.
constexpr std::uintmax_t kMaxSavedCopyBytes = 2 * TAGResourceLoader::kMaxContainerBytes;

bool savedCopyIsTooLarge(const std::string& path) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  return !error && size > kMaxSavedCopyBytes;
}

}  // namespace

std::string TAGResourceStorageImpl::dataPath() {
  std::string path = platform::Paths::join(
      platform::Paths::join(
          platform::Paths::join(platform::Paths::library(), "Application Support"), "Tags"),
      "TagManager");
  std::error_code error;
  if (!std::filesystem::exists(path, error)) {
    std::filesystem::create_directories(path, error);
    if (error) {
      TAGLog::error("Create directory error: " + error.message());
      throw platform::Exception("UnableToCreateDataDirectory", "");
    }
  }
  return path;
}

std::string TAGResourceStorageImpl::resourceFilename() const {
  return platform::Paths::join(dataPath(), "resource_" + containerId_);
}

void TAGResourceStorageImpl::loadResourceFromDiskInBackground() {
  auto self = shared_from_this();
  TAGAsyncUtil::invokeAsync<Outcome>([self] { return self->loadResourceFromDisk(); },
                                     [self](Outcome outcome) {
                                       auto callback = self->loadCallback();
                                       if (!callback) return;
                                       if (outcome.type()) {
                                         callback->onSuccess(outcome.type());
                                       } else {
                                         callback->onFailure(outcome.failure());
                                       }
                                     });
}

TAGResourceStorageImpl::Outcome TAGResourceStorageImpl::loadResourceFromDisk() {
  if (auto callback = loadCallback()) callback->startLoad();
  if (TAGPreviewManager::instance().isPreviewingContainer(containerId_)) {
    return Outcome::initWithFailure(1);
  }
  std::string filename;
  try {
    filename = resourceFilename();
  } catch (const platform::Exception&) {
    // Without its data folder the saved copy cannot be read; saying so lets the container go to
    // the network instead of waiting for an answer that never comes.
    return Outcome::initWithFailure(2);
  }
  if (savedCopyIsTooLarge(filename)) {
    TAGLog::warning("Error reading resource from disk: the saved copy is larger than a container");
    return Outcome::initWithFailure(2);
  }
  std::optional<std::string> bytes = readWholeFile(filename);
  if (!bytes) {
    TAGLog::debug("Resource not on disk");
    return Outcome::initWithFailure(1);
  }
  try {
    return Outcome::initWithType(std::make_shared<const tagpb::TAGPResourceWithMetadata>(
        TAGPServingRoot::parseFromData<tagpb::TAGPResourceWithMetadata>(*bytes)));
  } catch (const platform::Exception& e) {
    TAGLog::warning(std::string("Error reading resource from disk") + e.name() + ": " + e.what());
    return Outcome::initWithFailure(2);
  }
}

void TAGResourceStorageImpl::saveResourceToDiskInBackground(
    std::shared_ptr<const tagpb::TAGPResourceWithMetadata> resource) {
  saveResourceToDiskInBackground(std::move(resource), nullptr);
}

void TAGResourceStorageImpl::saveResourceToDiskInBackground(
    std::shared_ptr<const tagpb::TAGPResourceWithMetadata> resource,
    std::function<void(bool)> resultBlock) {
  auto self = shared_from_this();
  TAGAsyncUtil::invokeAsync<bool>([self, resource] { return self->saveResourceToDisk(*resource); },
                                  std::move(resultBlock));
}

bool TAGResourceStorageImpl::saveResourceToDisk(const tagpb::TAGPResourceWithMetadata& resource) {
  std::string filename = resourceFilename();
  std::string bytes;
  if (!resource.SerializeToString(&bytes) || !replaceFile(filename, bytes)) {
    TAGLog::warning("Error writing resource to disk. Removing resource from disk.");
    std::remove(filename.c_str());
    return false;
  }
  return true;
}

std::shared_ptr<const tagpb::TAGPResource> TAGResourceStorageImpl::loadResourceFromContainerFile(
    const std::string& containerId) {
  auto path = platform::Bundle::main().pathForResource(containerId, "");
  if (!path) {
    TAGLog::warning("Cannot find binary resource file '" + containerId + "'.");
    return nullptr;
  }
  TAGLog::verbose("Loading default container from " + containerId);
  try {
    std::optional<std::string> bytes = readWholeFile(*path);
    if (!bytes) throw platform::Exception(kTAGFileHandleOperationException, "Unreadable file");
    return std::make_shared<const tagpb::TAGPResource>(
        TAGPServingRoot::parseFromData<tagpb::TAGPResource>(*bytes));
  } catch (const platform::Exception& e) {
    TAGLog::warning("Error reading resource from binary container file: " + e.name() + ": " +
                    e.what());
    return nullptr;
  }
}

std::shared_ptr<const TAGExpandedResource> TAGResourceStorageImpl::loadExpandedResourceFromJsonFile(
    const std::string& containerId) {
  return loadExpandedDefault(containerId, "json", [](const std::string& bytes) {
    auto decoded = platform::Json::parse(bytes);
    TAGLog::verbose(decoded ? decoded->dump() : "(null)");
    return TAGSerialization::expandResourceFromData(bytes);
  });
}

std::shared_ptr<const TAGExpandedResource>
TAGResourceStorageImpl::loadExpandedResourceFromPlistFile(const std::string& containerId) {
  return loadExpandedDefault(containerId, "plist", [](const std::string& bytes) {
    auto list = platform::PropertyListSerialization::propertyListWithData(bytes, nullptr, nullptr);
    std::optional<platform::Value> dictionary;
    if (list && list->asDictionary()) dictionary = std::move(list);
    return TAGSerialization::expandedResourceFromDeserializedObject(dictionary);
  });
}

std::shared_ptr<TAGResourceStorage::LoadCallback> TAGResourceStorageImpl::loadCallback() const {
  platform::MutexLock lock(mutex_);
  return _loadCallback;
}

void TAGResourceStorageImpl::setLoadCallback(std::shared_ptr<LoadCallback> callback) {
  platform::MutexLock lock(mutex_);
  _loadCallback = std::move(callback);
}
