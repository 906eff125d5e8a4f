#include "webimage/WebImageScale.h"

#include "platform/ui/Screen.h"

double WebImageScale::scaleForName(const std::string& name) {
  if (name.size() < 8) return 1.0;
  return name.substr(name.size() - 8, 5).find("@2x.") != std::string::npos ? 2.0 : 1.0;
}

std::shared_ptr<platform::Image> WebImageScale::imageWithData(const platform::Bytes& data,
                                                              const std::string& name) {
  // The screen always reports its scale here, so the name's scale always applies.
  return platform::Image::imageWithData(data, scaleForName(name));
}
