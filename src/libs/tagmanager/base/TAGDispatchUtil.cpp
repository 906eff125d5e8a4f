#include "tagmanager/base/TAGDispatchUtil.h"

#include <algorithm>
#include <cctype>
#include <mutex>

#include "platform/foundation/Assert.h"
#include "platform/foundation/Locale.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/SystemInfo.h"

namespace {

std::string lowercase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

std::shared_ptr<platform::Thread> TAGDispatchUtil::thread() {
  static std::once_flag once;
  static std::shared_ptr<platform::Thread>* shared = nullptr;
  std::call_once(once, [] {
    // Lives until the process ends: detached so that static destruction never waits for it.
    shared = new std::shared_ptr<platform::Thread>(platform::Thread::startWithRunLoop("TAGThread"));
    (*shared)->detach();
  });
  return *shared;
}

bool TAGDispatchUtil::isOnThread() { return runLoop()->isCurrent(); }

void TAGDispatchUtil::assertOnThread(const char* operation) {
  platform::assertThat(isOnThread(), std::string(operation) + " must run on TAGThread");
}

void TAGDispatchUtil::background(const std::function<void()>& block, bool wait) {
  if (!block) return;
  auto loop = runLoop();
  if (loop->isCurrent()) {
    block();
  } else if (wait) {
    loop->performAndWait(block);
  } else {
    loop->perform(block);
  }
}

std::optional<std::string> TAGDispatchUtil::databaseFullPath(const std::string& name) {
  std::string library = platform::Paths::library();
  if (library.empty()) return std::nullopt;
  return platform::Paths::join(library, name);
}

std::optional<std::string> TAGDispatchUtil::databaseFullURL(const std::string& name) {
  auto path = databaseFullPath(name);
  if (!path) return std::nullopt;
  return "file://" + *path;
}

std::string TAGDispatchUtil::userAgentString() {
  const auto& device = platform::SystemInfo::current();
  return userAgentStringWithProduct(
      "TagManager", "3.01", device.model(), device.systemName(), device.systemVersion(),
      systemLanguageFromLanguages(platform::Locale::preferredLanguages()),
      systemCountryFromLocale(platform::Locale::currentIdentifier()));
}

std::string TAGDispatchUtil::userAgentStringWithProduct(
    const std::string& product, const std::string& version, const std::string& deviceModel,
    const std::string& systemName, const std::string& systemVersion,
    const std::string& systemLanguage, const std::string& systemCountry) {
  // A locale without a country names the language alone.
  std::string locale =
      systemCountry.empty() ? systemLanguage : systemLanguage + "-" + systemCountry;
  return product + "/" + version + " (" + deviceModel + "; U; CPU " + systemName + " " +
         systemVersion + " like Mac OS X; " + locale + ")";
}

std::string TAGDispatchUtil::systemLanguageFromLanguages(
    const std::vector<std::string>& languages) {
  return languages.empty() ? "en" : lowercase(languages.front());
}

std::string TAGDispatchUtil::systemCountryFromLocale(const std::string& localeIdentifier) {
  return lowercase(platform::Locale::countryCode(localeIdentifier).value_or(""));
}
