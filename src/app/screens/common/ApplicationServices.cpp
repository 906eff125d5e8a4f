#include "screens/common/ApplicationServices.h"

std::shared_ptr<ApplicationServices> ApplicationServices::shared() {
  return std::dynamic_pointer_cast<ApplicationServices>(
      platform::Application::sharedApplication().delegate());
}
