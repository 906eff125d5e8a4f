// The served folder opened once: items below it open, items reached through a way out of it do
// not, by either walk, and a folder that is missing when opened is served once it exists.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "httpserver/core/DocumentRoot.h"
#include "platform/foundation/Paths.h"
#include "support/Files.h"
#include "support/TempHome.h"

namespace {

using testsupport::writeFile;

struct ItemCase {
  const char* relativePath;
  int error;       // 0: opens
  bool directory;  // when it opens
};

class DocumentRootTest : public ::testing::TestWithParam<DocumentRoot::Walk> {
 protected:
  void SetUp() override {
    documents = platform::Paths::documents();
    root = documents + "/7";
    std::filesystem::create_directories(root + "/dir");
    writeFile(root + "/x.ts", "x-bytes");
    writeFile(documents + "/secret", "secret");
    std::filesystem::create_symlink(root + "/x.ts", root + "/inside.ts");
    std::filesystem::create_symlink("dir", root + "/near");
    std::filesystem::create_symlink(documents + "/secret", root + "/out.ts");
    std::filesystem::create_symlink("../secret", root + "/up.ts");
    std::filesystem::create_symlink("/proc/self/root", root + "/procroot");
  }

  testsupport::TempHome home;
  std::string documents;
  std::string root;
};

TEST_P(DocumentRootTest, ItemsOpenBelowTheFolderAndNowhereElse) {
  auto folder = DocumentRoot::open(root, GetParam());
  ASSERT_TRUE(folder->isOpen());
  const std::string throughProc = "procroot" + documents + "/secret";
  const ItemCase cases[] = {
      {"x.ts", 0, false},         {"", 0, true},
      {"dir", 0, true},           {"inside.ts", 0, false},
      {"near", 0, true},          {"missing.ts", ENOENT, false},
      {"x.ts/y", ENOTDIR, false}, {"out.ts", EXDEV, false},
      {"up.ts", EXDEV, false},    {throughProc.c_str(), EXDEV, false},
  };
  for (const ItemCase& c : cases) {
    SCOPED_TRACE(c.relativePath);
    int error = -1;
    std::optional<DocumentRoot::Item> item = folder->openItem(c.relativePath, &error);
    EXPECT_EQ(error, c.error);
    ASSERT_EQ(item.has_value(), c.error == 0);
    if (!item) continue;
    EXPECT_EQ(S_ISDIR(item->attributes.st_mode), c.directory);
    if (!c.directory) {
      EXPECT_EQ(item->attributes.st_size, 7);
    }
    ::close(item->fd);
  }
}

TEST_P(DocumentRootTest, AFolderMissingWhenOpenedIsServedOnceItExists) {
  auto folder = DocumentRoot::open(documents + "/8", GetParam());
  EXPECT_FALSE(folder->isOpen());
  int error = 0;
  EXPECT_FALSE(folder->openItem("x.ts", &error));
  EXPECT_EQ(error, ENOENT);
  std::filesystem::create_directories(documents + "/8");
  writeFile(documents + "/8/x.ts", "eight");
  std::optional<DocumentRoot::Item> item = folder->openItem("x.ts", &error);
  ASSERT_TRUE(item);
  EXPECT_EQ(item->attributes.st_size, 5);
  ::close(item->fd);
}

INSTANTIATE_TEST_SUITE_P(BothWalks, DocumentRootTest,
                         ::testing::Values(DocumentRoot::Walk::Beneath, DocumentRoot::Walk::ByPath),
                         [](const ::testing::TestParamInfo<DocumentRoot::Walk>& info) {
                           return info.param == DocumentRoot::Walk::Beneath ? "Beneath" : "ByPath";
                         });

}  // namespace
