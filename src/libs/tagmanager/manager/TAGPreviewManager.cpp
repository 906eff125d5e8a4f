#include "tagmanager/manager/TAGPreviewManager.h"

#include "tagmanager/base/TAGLog.h"
#include "tagmanager/predicates/TAGRegularExpression.h"

namespace {

constexpr const char* kStartPattern =
    R"(^tagmanager.c.\S+:\/\/preview\/p\?id=\S+&tm_auth=\S+&tm_preview=\d+$)";
constexpr const char* kEndPattern = R"(^tagmanager.c.\S+:\/\/preview\/p\?id=\S+&tm_preview=$)";

// The patterns are anchored, so a match anywhere is a match of the whole text. The link comes
// from outside: the expression's step and memory limits bound the work a long one costs.
bool matchesWhole(const char* pattern, const std::string& text) {
  auto expression = TAGRegularExpression::compile(pattern, false);
  return expression && expression->findsMatch(text);
}

// The URL's query: what follows the first "?", up to a fragment.
std::string queryOf(const std::string& url) {
  auto question = url.find('?');
  if (question == std::string::npos) return {};
  auto hash = url.find('#', question);
  return url.substr(question + 1,
                    hash == std::string::npos ? std::string::npos : hash - question - 1);
}

}  // namespace

TAGPreviewManager& TAGPreviewManager::instance() {
  static auto* shared = new TAGPreviewManager;
  return *shared;
}

bool TAGPreviewManager::generatePreviewDataForUrl(const std::optional<std::string>& url) {
  if (!url) return false;
  TAGLog::info("Preview Url = " + *url);
  std::string query = queryOf(*url);
  if (matchesWhole(kStartPattern, *url)) {
    platform::MutexLock lock(mutex_);
    _previewMode = 1;
    _ctfeUrlPath = "/r?" + query;
    _containerId = containerIdForQuery(query);
    return true;
  }
  if (matchesWhole(kEndPattern, *url)) {
    platform::MutexLock lock(mutex_);
    if (_containerId && containerIdForQuery(query) == *_containerId) {
      _previewMode = 0;
      _ctfeUrlPath.reset();
      return true;
    }
  }
  TAGLog::info("Not a tag manager Preview Url = " + *url);
  return false;
}

bool TAGPreviewManager::isPreviewingContainer(const std::string& containerId) const {
  platform::MutexLock lock(mutex_);
  return _previewMode == 1 && _containerId && *_containerId == containerId;
}

std::string TAGPreviewManager::containerIdForQuery(const std::string& query) {
  std::string first = query.substr(0, query.find('&'));
  auto equals = first.find('=');
  if (equals == std::string::npos) return {};
  std::string rest = first.substr(equals + 1);
  return rest.substr(0, rest.find('='));
}

void TAGPreviewManager::clear() {
  platform::MutexLock lock(mutex_);
  _previewMode = 0;
  _ctfeUrlPath.reset();
  _containerId.reset();
}

std::optional<std::string> TAGPreviewManager::containerId() const {
  platform::MutexLock lock(mutex_);
  return _containerId;
}

std::optional<std::string> TAGPreviewManager::ctfeUrlPath() const {
  platform::MutexLock lock(mutex_);
  return _ctfeUrlPath;
}
