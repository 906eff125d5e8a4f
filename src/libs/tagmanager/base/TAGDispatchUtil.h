#pragma once
// TAGDispatchUtil: the tag manager's worker thread "TAGThread" (one per process, started on
// first use, never stopped), running work on it, where the pixel-hit store lives, and the user
// agent pixel hits are sent with.
//
// Any thread may call.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"

class TAGDispatchUtil {
 public:
  TAGDispatchUtil() = delete;

  static std::shared_ptr<platform::Thread> thread();
  static std::shared_ptr<platform::RunLoop> runLoop() { return thread()->runLoop(); }
  static bool isOnThread();
  // Fails an assertion ("<operation> must run on TAGThread") anywhere else. State owned by
  // TAGThread has no lock the thread-safety analysis could follow, so its entry points check
  // their thread instead.
  static void assertOnThread(const char* operation);

  // Runs `block` on TAGThread: inline when already there (whatever `wait` says), else posted,
  // and when `wait` is true the caller blocks until it has run. A null block does nothing.
  static void background(const std::function<void()>& block, bool wait);

  // "<Library>/<name>"; absent when there is no Library folder.
  static std::optional<std::string> databaseFullPath(const std::string& name);
  static std::optional<std::string> databaseFullURL(const std::string& name);

  // "TagManager/3.01 (<model>; U; CPU <system> <version> like Mac OS X; <language>-<country>)"
  // for this device; "...; <language>)" when the locale names no country.
  static std::string userAgentString();
  static std::string userAgentStringWithProduct(
      const std::string& product, const std::string& version, const std::string& deviceModel,
      const std::string& systemName, const std::string& systemVersion,
      const std::string& systemLanguage, const std::string& systemCountry);
  // The first language in lower case; "en" for none.
  static std::string systemLanguageFromLanguages(const std::vector<std::string>& languages);
  // The locale's country in lower case; empty when it names none.
  static std::string systemCountryFromLocale(const std::string& localeIdentifier);
};
