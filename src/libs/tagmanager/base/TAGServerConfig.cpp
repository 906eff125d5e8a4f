#include "tagmanager/base/TAGServerConfig.h"

#include "platform/foundation/DeploymentSetting.h"

namespace {

platform::DeploymentSetting& containerServerSetting() {
  static auto* setting = new platform::DeploymentSetting("CHENGHENG_TAG_CONTAINER_SERVER",
                                                         "https://tags.chengheng.example");
  return *setting;
}

platform::DeploymentSetting& pixelHostSetting() {
  static auto* setting =
      new platform::DeploymentSetting("CHENGHENG_TAG_PIXEL_HOST", "pixel.chengheng.example");
  return *setting;
}

}  // namespace

std::string TAGServerConfig::containerServer() { return containerServerSetting().value(); }

void TAGServerConfig::setContainerServer(const std::string& origin) {
  containerServerSetting().setOverride(origin);
}

std::string TAGServerConfig::pixelHost() { return pixelHostSetting().value(); }

void TAGServerConfig::setPixelHost(const std::string& host) {
  pixelHostSetting().setOverride(host);
}
