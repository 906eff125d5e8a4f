#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Paths.h"
#include "support/Files.h"
#include "support/TempHome.h"

using namespace platform;

namespace {

TEST(BundleTest, CompiledInInfoValues) {
  Bundle& bundle = Bundle::main();
  EXPECT_EQ(&Bundle::main(), &bundle);
  EXPECT_EQ(bundle.name(), "chengheng");
  EXPECT_EQ(bundle.identifier(), "com.chengheng.app");
  EXPECT_EQ(bundle.version(), "1.0");
  EXPECT_EQ(bundle.shortVersion(), "1.0");
  EXPECT_EQ(bundle.objectForInfoDictionaryKey("CFBundleVersion"), Value("1.0"));
  EXPECT_FALSE(bundle.objectForInfoDictionaryKey("NoSuchKey").has_value());
}

TEST(BundleTest, ResourcePathPrefersSetThenEnvironmentThenCompiledIn) {
  Bundle& bundle = Bundle::main();
  unsetenv("CHENGHENG_RESOURCES");
  std::string compiledIn = bundle.resourcePath();
  EXPECT_FALSE(compiledIn.empty());
  setenv("CHENGHENG_RESOURCES", "/srv/resources", 1);
  EXPECT_EQ(bundle.resourcePath(), "/srv/resources");
  bundle.setResourcePath("/opt/resources");
  EXPECT_EQ(bundle.resourcePath(), "/opt/resources");
  bundle.setResourcePath("");
  EXPECT_EQ(bundle.resourcePath(), "/srv/resources");
  unsetenv("CHENGHENG_RESOURCES");
  EXPECT_EQ(bundle.resourcePath(), compiledIn);
}

TEST(BundleTest, PathForResourceFindsExistingFilesOnly) {
  testsupport::TempHome home;
  Bundle& bundle = Bundle::main();
  bundle.setResourcePath(home.path());
  testsupport::writeFile(Paths::join(home.path(), "help1.png"), "png");
  testsupport::writeFile(Paths::join(home.path(), "container-id"), "container");
  std::filesystem::create_directories(Paths::join(home.path(), "folder.png"));

  EXPECT_EQ(bundle.pathForResource("help1", "png"), Paths::join(home.path(), "help1.png"));
  EXPECT_EQ(bundle.pathForResource("container-id", ""), Paths::join(home.path(), "container-id"));
  EXPECT_EQ(bundle.pathForResource("help2", "png"), std::nullopt);
  EXPECT_EQ(bundle.pathForResource("container-id", "json"), std::nullopt);
  EXPECT_EQ(bundle.pathForResource("folder", "png"), std::nullopt);
  EXPECT_EQ(bundle.pathForResource("", "png"), std::nullopt);
  bundle.setResourcePath("");
}

}  // namespace
