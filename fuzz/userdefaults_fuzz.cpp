// A user-defaults file as the application finds it at launch: read, written back and read again.
// A file that cannot be read must be set aside, never crash the launch; one that can must come
// back from `synchronize` with every top-level value unchanged.
//
// The files live in a folder of this process under the system's temporary folder, removed when
// the process ends.

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/foundation/Json.h"
#include "platform/foundation/UserDefaults.h"

namespace fs = std::filesystem;

namespace {

class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (fs::temp_directory_path() / "chengheng-defaults-fuzz-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) std::abort();
    path_ = buffer.data();
  }
  ~ScratchFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Arrays and objects nested in `j`, counting `j` itself.
int depthOf(const platform::Json::json& j) {
  int deepest = 0;
  if (j.is_structured()) {
    for (const auto& element : j) deepest = std::max(deepest, depthOf(element));
  }
  return j.is_structured() ? deepest + 1 : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ScratchFolder folder;
  const std::string file = folder.path() + "/defaults.json";
  std::error_code ignored;
  fs::remove(file + ".corrupt", ignored);
  std::ofstream(file, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

  platform::UserDefaults defaults(file);
  auto parsed = platform::Json::parse(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!parsed || !parsed->is_object()) {
    // Set aside, and the defaults start empty.
    if (fs::exists(file, ignored) || !fs::exists(file + ".corrupt", ignored)) std::abort();
    return 0;
  }

  for (auto it = parsed->begin(); it != parsed->end(); ++it) {
    (void)defaults.stringForKey(it.key());
    (void)defaults.boolForKey(it.key());
  }
  if (!defaults.synchronize()) std::abort();
  platform::UserDefaults reloaded(file);
  if (fs::exists(file + ".corrupt", ignored)) std::abort();  // what it wrote, it reads
  // A dictionary that reads like one of the file's tags is written a level deeper, so an entry
  // of a file nested beyond half the bound may be left out; any other comes back unchanged.
  bool mayLeaveOut = depthOf(*parsed) > platform::Json::kMaxDepth / 2;
  for (auto it = parsed->begin(); it != parsed->end(); ++it) {
    auto back = reloaded.object(it.key());
    if (!back && mayLeaveOut) continue;
    if (back != defaults.object(it.key())) std::abort();
  }
  return 0;
}
