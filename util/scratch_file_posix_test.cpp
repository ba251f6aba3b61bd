// Scratch files on POSIX systems: who owns them, the names they take and lose.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "script/output_file.h"
#include "test/test_util.h"
#include "util/scratch_file.h"

namespace mkani {

TEST(ScratchFilePosixTest, OneNeverOpenedClosesNothingWhenItGoes) {
  { ScratchFile never; }
  EXPECT_NE(fcntl(0, F_GETFD), -1) << "standard input was closed";
}

TEST(ScratchFilePosixTest, OneMovedIsOwnedByItsNewHolderAlone) {
  ScopedTempDir dir;
  std::string err;
  ScratchFile first;
  ASSERT_TRUE(createScratchFile(false, &first, &err)) << err;
  ASSERT_TRUE(nameScratchFile(&first, &err)) << err;
  const std::string name = first.name;
  ScratchFile second = std::move(first);
  EXPECT_FALSE(first.isOpen());
  EXPECT_EQ(readFile(name), "");  // still there, now the second's
  second = ScratchFile();
  EXPECT_EQ(readFile(name), "<missing>");
}

TEST(ScratchFilePosixTest, ATemporaryOneWhereNoFileCanBeUnnamedLosesItsNameAtOnce) {
  ScopedTempDir dir;
  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a FAT image through FUSE";
  if (std::system("exec >/dev/null 2>&1; mkfs.vfat -C f 256 && mkdir d && fusefat -o rw+ f d"))
    GTEST_SKIP() << "mkfs.vfat or fusefat is not here, or FUSE cannot mount";
  fs::current_path("d");
  {
    std::string err;
    ScratchFile file;
    EXPECT_TRUE(createScratchFile(true, &file, &err)) << err;
    EXPECT_EQ(file.name, "");
    EXPECT_NE(fcntl(static_cast<int>(file.handle), F_GETFD), -1) << "it is not open";
  }
  fs::current_path("..");
  std::system("fusermount -u d");
}

// A scratch file of this process, once given a name: unnamed where the file system allows.
class NamedScratchTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string err;
    ASSERT_TRUE(createScratchFile(false, &file_, &err)) << err;
    if (!file_.name.empty()) GTEST_SKIP() << "no unnamed files here, named at once";
  }
  ScopedTempDir dir_;
  ScratchFile file_;
  const std::string prefix_ = ".mkani-" + std::to_string(getpid()) + "-";
};

TEST_F(NamedScratchTest, ItTakesTheFirstHiddenNameOfTheProcessThatIsFree) {
  writeFile(prefix_ + "0.tmp", "taken");
  std::string err;
  ASSERT_TRUE(nameScratchFile(&file_, &err)) << err;
  EXPECT_EQ(file_.name, prefix_ + "1.tmp");
  EXPECT_EQ(readFile(prefix_ + "0.tmp"), "taken");
}

TEST_F(NamedScratchTest, WhenEveryNameIsTakenItFailsSayingSo) {
  for (int k = 0; k < 1000; ++k) writeFile(prefix_ + std::to_string(k) + ".tmp", "taken");
  std::string err;
  EXPECT_FALSE(nameScratchFile(&file_, &err));
  EXPECT_EQ(err, "File exists");
}

TEST_F(NamedScratchTest, AStopRemovesItsName) {
  std::string err;
  ASSERT_TRUE(nameScratchFile(&file_, &err)) << err;
  removeScratchOnStop();  // what a stop does
  EXPECT_EQ(readFile(file_.name), "<missing>");
  EXPECT_EQ(removeScratchFile(&file_), ENOENT);
}

TEST_F(NamedScratchTest, RemovingAnotherFileOfTheRunLeavesItsNameToAStop) {
  std::string err;
  ASSERT_TRUE(nameScratchFile(&file_, &err)) << err;
  {
    ScratchFile copy;  // a file the run names itself, as the old script's copy
    copy.name = prefix_ + "0.old";
    writeFile(copy.name, "old");
  }
  removeScratchOnStop();
  EXPECT_EQ(readFile(file_.name), "<missing>");
}

TEST_F(NamedScratchTest, RenamedOverTheScriptItsNameIsFreeAndAStopLeavesWhateverHasIt) {
  FaultyFile whole;
  ASSERT_EQ(writeScript({"a.jpg"}, &whole), "");
  writeFile(prefix_ + "0.tmp", "new");
  removeScratchOnStop();
  EXPECT_EQ(readFile(prefix_ + "0.tmp"), "new");
}

}  // namespace mkani
