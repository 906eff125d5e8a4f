#include "tagmanager/runtime/TAGFunctionCallImplementation.h"

#include <algorithm>

bool TAGFunctionCallImplementation::hasRequiredKeys(const std::set<std::string>& keys) const {
  if (!_requiredKeys) return false;
  return std::includes(keys.begin(), keys.end(), _requiredKeys->begin(), _requiredKeys->end());
}
