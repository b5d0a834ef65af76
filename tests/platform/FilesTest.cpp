#include <gtest/gtest.h>

#include "platform/Files.h"
#include "support/TempFolder.h"

namespace orb {
namespace {

TEST(Files, AtomicWriteReplacesTheFileAndLeavesNoTemporary) {
  test::TTempFolder folder;
  const auto path = folder / "ORB_App.ini";
  test::WriteFile(path, "old");
  std::string error;
  ASSERT_TRUE(WriteFileAtomic(path, "new content\n", error)) << error;
  EXPECT_EQ(test::ReadFile(path), "new content\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()), {}), 1);
}

TEST(Files, AtomicWriteIntoAMissingFolderFailsWithAReason) {
  test::TTempFolder folder;
  std::string error;
  EXPECT_FALSE(WriteFileAtomic(folder / "missing/x.ini", "x", error));
  EXPECT_NE(error.find("cannot create"), std::string::npos);
}

TEST(Files, ExclusiveFileShutsOutASecondWriter) {
  test::TTempFolder folder;
  const auto path = folder / "debug.log";
  TExclusiveFile first;
  TExclusiveFile second;
  std::string error;
  ASSERT_TRUE(first.Open(path, true, error)) << error;
  EXPECT_FALSE(second.Open(path, false, error));
  ASSERT_TRUE(first.Write("abcdef"));
  ASSERT_TRUE(first.Seek(2));
  ASSERT_TRUE(first.Write("X"));
  EXPECT_EQ(first.Position(), 3);
  first.Close();
  EXPECT_EQ(test::ReadFile(path), "abXdef");
  ASSERT_TRUE(second.Open(path, false, error)) << error;
  EXPECT_EQ(second.Position(), 6);  // appends without emptying
}

TEST(Files, HomeFolderWins) {
  test::TTempFolder folder;
  SetHomeFolder(folder / "home");
  EXPECT_EQ(ProgramFolder(), folder / "home");
  EXPECT_TRUE(std::filesystem::is_directory(folder / "home"));
  SetHomeFolder({});
}

}  // namespace
}  // namespace orb
