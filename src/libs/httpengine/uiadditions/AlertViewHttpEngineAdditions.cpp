#include "httpengine/uiadditions/AlertViewHttpEngineAdditions.h"

std::shared_ptr<platform::AlertView> AlertViewHttpEngineAdditions::showWithError(
    const platform::Error& error) {
  std::optional<std::string> suggestion;
  auto found = error.userInfo().find(platform::kLocalizedRecoverySuggestionKey);
  if (found != error.userInfo().end()) {
    if (const std::string* text = found->second.asText()) suggestion = *text;
  }
  auto alert = platform::AlertView::create(error.localizedDescription(), suggestion,
                                           std::weak_ptr<platform::AlertViewDelegate>(), "Dismiss");
  alert->show();
  return alert;
}
