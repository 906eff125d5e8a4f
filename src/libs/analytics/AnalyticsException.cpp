#include "analytics/AnalyticsException.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <typeinfo>

#include "platform/foundation/Assert.h"

namespace {

std::string demangled(const char* name) {
  if (!name) return {};
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> text(
      abi::__cxa_demangle(name, nullptr, nullptr, &status), &std::free);
  return status == 0 && text ? std::string(text.get()) : std::string(name);
}

// A symbol as one word of the listing: the demangled name without its parameter list, with no
// blanks ("std::vector<int,std::allocator<int>>::at").
std::string listingSymbol(const char* mangled) {
  std::string name = demangled(mangled);
  int depth = 0;
  std::string word;
  for (char c : name) {
    if (c == '<') ++depth;
    if (c == '>' && depth > 0) --depth;
    if (c == '(' && depth == 0 && !word.empty()) break;
    if (c != ' ') word.push_back(c);
  }
  return word;
}

std::string imageName(const char* path) {
  if (!path) return "???";
  std::string text = path;
  std::size_t slash = text.rfind('/');
  return slash == std::string::npos ? text : text.substr(slash + 1);
}

}  // namespace

AnalyticsException AnalyticsException::fromException(const std::exception& exception) {
  AnalyticsException result;
  if (const auto* named = dynamic_cast<const platform::Exception*>(&exception)) {
    result.name = named->name();
  } else {
    result.name = demangled(typeid(exception).name());
  }
  result.reason = exception.what();
  return result;
}

std::optional<AnalyticsException> AnalyticsException::current(
    std::vector<std::string> callStackSymbols) {
  std::exception_ptr pending = std::current_exception();
  if (!pending) return std::nullopt;
  AnalyticsException result;
  try {
    std::rethrow_exception(pending);
  } catch (const std::exception& exception) {
    result = fromException(exception);
  } catch (...) {
    const std::type_info* type = abi::__cxa_current_exception_type();
    result.name = type ? demangled(type->name()) : "unknown exception";
  }
  result.callStackSymbols = std::move(callStackSymbols);
  return result;
}

std::vector<std::string> AnalyticsException::captureCallStack() {
  void* frames[128];
  int count = backtrace(frames, 128);
  std::vector<std::string> lines;
  for (int i = 1; i < count; ++i) {
    Dl_info info{};
    bool known = dladdr(frames[i], &info) != 0;
    std::string image = imageName(known ? info.dli_fname : nullptr);
    auto address = reinterpret_cast<std::uintptr_t>(frames[i]);
    auto imageBase = reinterpret_cast<std::uintptr_t>(known ? info.dli_fbase : nullptr);
    std::string symbol;
    std::uintptr_t base = imageBase;
    if (known && info.dli_sname && info.dli_saddr) {
      symbol = listingSymbol(info.dli_sname);
      base = reinterpret_cast<std::uintptr_t>(info.dli_saddr);
    } else {
      // A frame without a symbol (a static function) is named by its place in its image.
      char place[64];
      std::snprintf(place, sizeof place, "+0x%llx",
                    static_cast<unsigned long long>(address - imageBase));
      symbol = image + place;
    }
    char line[1024];
    std::snprintf(line, sizeof line, "%-4d%-35s 0x%016llx %s + %llu", i - 1, image.c_str(),
                  static_cast<unsigned long long>(address), symbol.c_str(),
                  static_cast<unsigned long long>(address - base));
    lines.push_back(line);
  }
  return lines;
}
