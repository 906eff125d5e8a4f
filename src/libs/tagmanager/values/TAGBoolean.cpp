#include "tagmanager/values/TAGBoolean.h"

#include <algorithm>
#include <cctype>

namespace {

bool equalsIgnoringCase(std::string_view text, std::string_view word) {
  return text.size() == word.size() &&
         std::equal(text.begin(), text.end(), word.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) == b;
         });
}

}  // namespace

const std::shared_ptr<const TAGBoolean>& TAGBoolean::yes() {
  static const std::shared_ptr<const TAGBoolean> instance(new TAGBoolean(true));
  return instance;
}

const std::shared_ptr<const TAGBoolean>& TAGBoolean::no() {
  static const std::shared_ptr<const TAGBoolean> instance(new TAGBoolean(false));
  return instance;
}

std::shared_ptr<TAGBoolean> TAGBoolean::booleanWithBool(bool value) {
  return std::shared_ptr<TAGBoolean>(new TAGBoolean(value));
}

std::shared_ptr<TAGBoolean> TAGBoolean::booleanWithString(std::string_view text) {
  if (equalsIgnoringCase(text, "true")) return booleanWithBool(true);
  if (equalsIgnoringCase(text, "false")) return booleanWithBool(false);
  return nullptr;
}
