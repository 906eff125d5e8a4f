// Frozen request archives (JSON files in the cache folder) on arbitrary text. Restoring either
// refuses the archive or gives an operation whose body, identity, diagnostics, copy and archive
// all work; its archive restores again. Nothing may throw or end the process.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "httpengine/HttpOperation.h"
#include "platform/foundation/Json.h"

namespace {

// The body reads the files the archive names; keep the fuzzer away from files that never end
// or are huge (/proc, /sys), since that is not what is under test.
bool filesAreSafeToRead(const platform::Dictionary& archiveFile) {
  const platform::Value* path = platform::find(archiveFile, "filepath");
  if (!path || !path->asText()) return true;
  std::error_code error;
  auto canonical = std::filesystem::weakly_canonical(*path->asText(), error).string();
  if (error) return false;
  for (const char* risky : {"/proc", "/sys"}) {
    if (canonical.rfind(risky, 0) == 0) return false;
  }
  auto size = std::filesystem::is_regular_file(canonical, error)
                  ? std::filesystem::file_size(canonical, error)
                  : 0;
  return !error && size <= (1u << 20);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto json = platform::Json::parse(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!json) return 0;
  std::string failure;
  auto operation = HttpOperation::initWithCoder(*json, &failure);
  if (!operation) {
    if (failure.empty()) std::abort();
    return 0;
  }
  (void)operation->uniqueIdentifier();
  (void)operation->curlCommandLineString();
  (void)operation->isCacheable();
  (void)operation->copy();

  bool safe = true;
  if (const auto* files = platform::Json::arrayValue(*json, "filesToBePosted")) {
    for (const auto& file : *files) {
      platform::Value entry = platform::Json::toValue(file);
      if (const auto* d = entry.asDictionary()) safe = safe && filesAreSafeToRead(*d);
    }
  }
  if (safe) (void)operation->bodyData();

  // What was restored archives and restores again.
  auto archive = operation->encodeWithCoder();
  if (!HttpOperation::initWithCoder(nlohmann::json::parse(archive.dump()))) std::abort();
  return 0;
}
