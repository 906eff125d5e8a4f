// A road script as `--script` takes it: any file. Parsing either gives steps or says why not (the
// first line it refuses, or that there is no step); it never throws.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "shell/RoadScript.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string error;
  auto script = RoadScript::parse(text, &error);
  if (!script) {
    if (error.rfind("line ", 0) != 0 && error != "the script has no steps") std::abort();
    return 0;
  }
  if (script->steps().empty()) std::abort();
  (void)script->awaitedNotifications();
  return 0;
}
