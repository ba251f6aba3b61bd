// Scratch files on POSIX systems: who owns them, the names they take and lose.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <random>

#include "test/test_util.h"
#include "util/scratch_file.h"

namespace mkani {

TEST(ScratchFilePosixTest, OneMovedIsOwnedByItsNewHolderAloneAndOneNeverOpenedClosesNothing) {
  ScopedTempDir dir;
  { ScratchFile never; }
  EXPECT_NE(fcntl(0, F_GETFD), -1) << "standard input was closed";
  std::string err;
  ScratchFile first;
  ASSERT_TRUE(createScratchFile(false, &first, &err)) << err;
  ASSERT_TRUE(nameScratchFile(&first, &err)) << err;
  const std::string name = first.name;
  ScratchFile second = std::move(first);
  EXPECT_FALSE(first.isOpen());
  EXPECT_EQ(readFile(name), "");  // still there, now the second's
  ScratchFile third;
  third = std::move(second);
  EXPECT_EQ(third.name, name);
  third = ScratchFile();
  EXPECT_EQ(readFile(name), "<missing>");
}

TEST(ScratchFilePosixTest, OneNamedTakesTheFirstHiddenNameOfTheProcessThatIsFreeElseFails) {
  ScopedTempDir dir;
  std::string err;
  ScratchFile file;
  ASSERT_TRUE(createScratchFile(false, &file, &err)) << err;
  if (!file.name.empty()) GTEST_SKIP() << "no unnamed files here, named at once";
  ScratchFile last;
  ASSERT_TRUE(createScratchFile(false, &last, &err)) << err;
  const std::string prefix = ".mkani-" + std::to_string(getpid()) + "-";
  writeFile(prefix + "0.tmp", "taken");
  ASSERT_TRUE(nameScratchFile(&file, &err)) << err;
  EXPECT_EQ(file.name, prefix + "1.tmp");
  EXPECT_EQ(readFile(prefix + "0.tmp"), "taken");
  for (int k = 2; k < 1000; ++k) writeFile(prefix + std::to_string(k) + ".tmp", "taken");
  EXPECT_FALSE(nameScratchFile(&last, &err));
  EXPECT_EQ(err, "File exists");
  // Nor in a folder that went meanwhile.
  ScratchFile orphan;
  fs::create_directory("gone");
  fs::current_path("gone");
  ASSERT_TRUE(createScratchFile(false, &orphan, &err)) << err;
  fs::remove(fs::current_path());
  EXPECT_FALSE(nameScratchFile(&orphan, &err));
  EXPECT_EQ(err, "No such file or directory");
}

TEST(ScratchFilePosixTest, AStopRemovesTheNameOfTheScratchFileNamedLastWhileItHasIt) {
  ScopedTempDir dir;
  std::string err;
  ScratchFile file;
  ASSERT_TRUE(createScratchFile(false, &file, &err)) << err;
  ASSERT_TRUE(nameScratchFile(&file, &err)) << err;
  const std::string name = file.name;
  {
    ScratchFile copy;  // another file of the run, which it names itself: the old script's copy
    copy.name = ".mkani-" + std::to_string(getpid()) + "-0.old";
    writeFile(copy.name, "old");
  }
  removeScratchOnStop();  // what a stop does
  EXPECT_EQ(readFile(name), "<missing>");
  EXPECT_EQ(removeScratchFile(&file), ENOENT);
  // Renamed over the script, its name is free again: a stop leaves whatever has it.
  FaultyFile whole;
  ASSERT_EQ(writeScript({"a.jpg"}, &whole), "");
  writeFile(name, "new");
  removeScratchOnStop();
  EXPECT_EQ(readFile(name), "new");
}

TEST(ScratchFilePosixTest, AStopAtAnyMomentOfNamingOneLeavesNoName) {
  ScopedTempDir dir;
  std::mt19937 random(7);
  sigset_t term;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  for (int stop = 0; stop < 100; ++stop) {
    sigprocmask(SIG_BLOCK, &term, nullptr);  // till the child has its handler
    const pid_t child = fork();
    if (child == 0) {
      std::signal(SIGTERM, [](int) {
        removeScratchOnStop();
        _exit(2);
      });
      sigprocmask(SIG_UNBLOCK, &term, nullptr);
      for (;;) {
        std::string err;
        ScratchFile file;
        if (!createScratchFile(false, &file, &err) || !nameScratchFile(&file, &err)) _exit(9);
      }
    }
    sigprocmask(SIG_UNBLOCK, &term, nullptr);
    usleep(200 + random() % 2000);  // a moment of its own; many fall while a name is made
    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 2);
    ASSERT_EQ(entryCount(".mkani-"), 0) << "a name was left by stop " << stop;
  }
}

}  // namespace mkani
