#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "logging/LGLogFileInfo.h"
#include "platform/foundation/Paths.h"
#include "support/Files.h"
#include "support/TempHome.h"

using testsupport::exists;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

class LGLogFileInfoTest : public ::testing::Test {
 protected:
  std::string pathOf(const std::string& name) { return platform::Paths::join(home_.path(), name); }
  std::string makeFile(const std::string& name, const std::string& text = "") {
    writeFile(pathOf(name), text);
    return pathOf(name);
  }

  testsupport::TempHome home_;
};

TEST_F(LGLogFileInfoTest, MarksWithTheAttributeWhereTheFileSystemHasOne) {
  LGLogFileInfo info(makeFile("log-1A2B3C.txt"));
  EXPECT_FALSE(info.isArchived());
  info.setIsArchived(true);
  EXPECT_TRUE(info.isArchived());
  EXPECT_TRUE(info.hasExtendedAttributeWithName(kLGLogFileArchivedAttribute));
  EXPECT_EQ(info.fileName(), "log-1A2B3C.txt");
  info.setIsArchived(false);
  EXPECT_FALSE(info.isArchived());
  EXPECT_FALSE(LGLogFileInfo(pathOf("log-1A2B3C.txt")).isArchived());

  // A file that is gone is not marked by name either: its path stays.
  LGLogFileInfo gone(pathOf("log-00000F.txt"));
  gone.setIsArchived(true);
  EXPECT_EQ(gone.filePath(), pathOf("log-00000F.txt"));
  EXPECT_FALSE(gone.isArchived());
}

TEST_F(LGLogFileInfoTest, AnAttributeOfItsOwnComesAndGoesBesideTheArchivedMark) {
  LGLogFileInfo info(makeFile("log-1A2B3C.txt"));
  info.setIsArchived(true);
  ASSERT_TRUE(info.addExtendedAttributeWithName("user.test.reviewed"));
  EXPECT_TRUE(info.hasExtendedAttributeWithName("user.test.reviewed"));
  info.removeExtendedAttributeWithName("user.test.reviewed");
  EXPECT_FALSE(info.hasExtendedAttributeWithName("user.test.reviewed"));
  EXPECT_TRUE(info.isArchived());
  info.removeExtendedAttributeWithName("user.test.reviewed");  // gone already: harmless
  info.removeExtendedAttributeWithName(kLGLogFileArchivedAttribute);
  EXPECT_FALSE(info.isArchived());
  // Without user attributes there is nothing to remove, and nothing breaks.
  LGLogFileInfo::ScopedNoExtendedAttributes noAttributes;
  info.removeExtendedAttributeWithName("user.test.reviewed");
}

TEST_F(LGLogFileInfoTest, WithoutUserAttributesMarksByNameAndUnmarksBack) {
  LGLogFileInfo::ScopedNoExtendedAttributes noAttributes;
  struct Case {
    const char* name;
    const char* marked;
  } cases[] = {
      {"log-1A2B3C.txt", "log-1A2B3C.archived.txt"},
      {"log-1A2B3C.log", "log-1A2B3C.archived.log"},
      {"log-1A2B3C", "log-1A2B3C.archived"},
  };
  for (const auto& c : cases) {
    std::string path = makeFile(c.name, "lines\n");
    LGLogFileInfo info(path);
    info.setIsArchived(true);
    EXPECT_TRUE(info.isArchived()) << c.name;
    EXPECT_EQ(info.fileName(), c.marked);
    EXPECT_EQ(info.filePath(), pathOf(c.marked));
    EXPECT_EQ(readFile(pathOf(c.marked)), "lines\n");
    EXPECT_FALSE(exists(path));
    info.setIsArchived(true);  // marked already: no second mark
    EXPECT_EQ(info.fileName(), c.marked);

    info.setIsArchived(false);
    EXPECT_FALSE(info.isArchived()) << c.name;
    EXPECT_EQ(info.filePath(), path);
    EXPECT_TRUE(exists(path));
    std::filesystem::remove(path);
  }
}

TEST_F(LGLogFileInfoTest, EitherMarkMakesAFileArchived) {
  struct Case {
    const char* name;
    bool attribute;
    bool archived;
  } cases[] = {
      {"log-1A2B3C.txt", false, false},
      {"log-1A2B3C.txt", true, true},
      {"log-1A2B3C.archived.txt", false, true},
      {"log-1A2B3C.archived", false, true},
      {"log-1A2B3C.archived.txt", true, true},
      {"log-1A2B3C.txt.archived", false, true},
      {"log-1A2B3C.archivedx.txt", false, false},
      {"log-1A2B3C.xarchived", false, false},
      {"log-1A2B3C.archived.txt.gz", false, false},
  };
  for (const auto& c : cases) {
    std::string path = makeFile(c.name);
    if (c.attribute) LGLogFileInfo(path).addExtendedAttributeWithName(kLGLogFileArchivedAttribute);
    EXPECT_EQ(LGLogFileInfo(path).isArchived(), c.archived) << c.name << " " << c.attribute;
    std::filesystem::remove(path);
  }
}

TEST_F(LGLogFileInfoTest, RenamingNeverReplacesAnotherFile) {
  std::string moved = makeFile("log-000001.txt", "first\n");
  std::string other = makeFile("log-000002.txt", "second\n");
  LGLogFileInfo info(moved);
  info.renameFile("log-000002.txt");
  EXPECT_EQ(readFile(other), "second\n");
  EXPECT_EQ(readFile(moved), "first\n");
  // The path follows the new name even though the move was refused.
  EXPECT_EQ(info.filePath(), other);

  LGLogFileInfo fresh(moved);
  fresh.renameFile("log-000003.txt");
  EXPECT_EQ(readFile(pathOf("log-000003.txt")), "first\n");
  EXPECT_FALSE(exists(moved));
}

TEST_F(LGLogFileInfoTest, KeepsWhatItReadUntilReset) {
  std::string path = makeFile("log-ABCDEF.txt", "12345");
  LGLogFileInfo info(path);
  EXPECT_EQ(info.fileSize(), 5u);
  auto created = info.creationDate();
  ASSERT_TRUE(created);
  ASSERT_TRUE(info.modificationDate());
  EXPECT_TRUE(info == LGLogFileInfo(path));
  EXPECT_FALSE(info == LGLogFileInfo(pathOf("log-ABCDEE.txt")));

  // The kept modification date does not follow the file until the info forgets it; the kept
  // size stays even then.
  auto modified = *info.modificationDate();
  writeFile(path, "1234567890");
  struct timespec later[2] = {{0, UTIME_OMIT}, {2000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), later, 0), 0);
  EXPECT_EQ(info.modificationDate(), modified);
  info.reset();
  EXPECT_NE(info.modificationDate(), modified);
  EXPECT_EQ(info.fileSize(), 5u);
  EXPECT_EQ(LGLogFileInfo(path).fileSize(), 10u);

  std::string text = info.description();
  for (const char* key : {"filePath", "fileName", "fileAttributes", "creationDate",
                          "modificationDate", "fileSize", "age", "isArchived"}) {
    EXPECT_NE(text.find(key), std::string::npos) << key << " in " << text;
  }
}

}  // namespace
