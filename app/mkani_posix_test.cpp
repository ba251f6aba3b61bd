// The mkani executable where POSIX systems can fail it or its surroundings turn hostile.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "test/test_util.h"

namespace mkani {
namespace {

TEST(MkaniPosixTest, FailuresAreReportedWithStatusTwo) {
  ScopedTempDir dir;
  ASSERT_EQ(symlink("nowhere", "gone.jpg"), 0);
  writeFile("\xe9t\xe9.JPG");
  writeFile(".hidden.jpg");
  ASSERT_EQ(chmod(dir.path.c_str(), 0555), 0);  // may read, may not write
  ToolRun readOnly = runToolAfter(":", /*unprivileged=*/true);
  EXPECT_EQ(readOnly.status, 2);
  EXPECT_EQ(readOnly.out, "");
  EXPECT_EQ(readOnly.err, "mkani: cannot write main.ani: Permission denied\n");

  ASSERT_EQ(chmod(dir.path.c_str(), 0777), 0);
  writeFile("main.ani", "old");
  ASSERT_EQ(chmod("main.ani", 0444), 0);
  ToolRun lockedFile = runToolAfter(":", true);
  EXPECT_EQ(lockedFile.status, 2);
  EXPECT_EQ(lockedFile.err, "mkani: cannot write main.ani: Permission denied\n");
  EXPECT_EQ(readFile("main.ani"), "old");
  EXPECT_EQ(entryCount(), 4);

  // A folder that takes no new file, but whose script may be written: rewritten in place.
  ASSERT_EQ(chmod("main.ani", 0666), 0);
  ASSERT_EQ(chmod(dir.path.c_str(), 0555), 0);
  EXPECT_EQ(runToolAfter(":", true).status, 0);
  EXPECT_EQ(picturesIn(readFile("main.ani")),
            (std::vector<std::string>{".hidden.jpg", "gone.jpg", "\xe9t\xe9.JPG"}));

  ASSERT_EQ(chmod(dir.path.c_str(), 0311), 0);  // may enter, may not list
  ToolRun unreadable = runToolAfter(":", true);
  EXPECT_EQ(unreadable.status, 2);
  EXPECT_EQ(unreadable.out, "");  // not taken for an empty folder
  EXPECT_EQ(unreadable.err, "mkani: cannot read the current directory: Permission denied\n");
}

TEST(MkaniPosixTest, SurvivesItsSurroundings) {
  ScopedTempDir dir;
  // Names long enough to outgrow the first block of names, and a script past 50 KiB.
  const std::string name(190, 'p');
  for (int i = 0; i < 6000; ++i) writeFile(name + std::to_string(i) + ".jpg");
  writeFile("main.ani", "old");
  std::vector<std::pair<const char*, std::string>> keepOld = {
      {"ulimit -f 100", "mkani: cannot write main.ani: File too large\n"}};
#if !defined(MKANI_SANITIZE)  // the sanitizers reserve far more address space than this
  keepOld.push_back({"ulimit -v 30000", "mkani: out of memory\n"});
  EXPECT_EQ(runToolAfter("ulimit -v 65536").status, 0);
#endif
  for (const auto& [setup, err] : keepOld) {
    writeFile("main.ani", "old");
    ToolRun run = runToolAfter(setup);
    EXPECT_EQ(run.status, 2) << setup;
    EXPECT_EQ(run.err, err);
    EXPECT_EQ(readFile("main.ani"), "old");
    EXPECT_EQ(entryCount(), 6001);  // no scratch file left
  }

  for (int i = 0; i < 6000; ++i) std::remove((name + std::to_string(i) + ".jpg").c_str());
  ASSERT_EQ(mkfifo("pipe", 0600), 0);
  const std::string broken = "exec 3<>pipe; exec 1>pipe 3<&-";  // a pipe nobody reads
  ToolRun noReader = runToolAfter(broken);
  EXPECT_EQ(noReader.status, 2);
  EXPECT_EQ(noReader.err, "mkani: cannot write to standard output: Broken pipe\n");
  EXPECT_EQ(runToolAfter("exec 1>&-").status, 1);

  writeFile("a\nb.jpg");
  writeFile("c.jpg");
  for (const char* setup : {"exec 3<>pipe; exec 2>pipe 3<&-", "exec 2>&-"}) {
    EXPECT_EQ(runToolAfter(setup).status, 2) << setup;  // the skipped name, said or not
    EXPECT_EQ(picturesIn(readFile("main.ani")), std::vector<std::string>{"c.jpg"}) << setup;
    EXPECT_EQ(readFile("main.ani").find("skipped"), std::string::npos);
  }
}

TEST(MkaniPosixTest, ReadersAndKillsFindTheOldScriptOrTheNewOneWhole) {
  ScopedTempDir dir;
  for (int i = 0; i < 10000; ++i) writeFile("frame_" + std::to_string(i) + ".jpg");
  ASSERT_EQ(runTool().status, 0);
  const std::string fresh = readFile("main.ani"), old(100000, 'o');
  // Killed after so many reads of main.ani, or read until the run ends: never a torn script.
  for (int reads : {0, 3, 30, 1 << 30}) {
    writeFile("main.ani", old);
    const pid_t child = fork();
    if (child == 0) execl(MKANI_EXE, MKANI_EXE, static_cast<char*>(nullptr));
    int status, torn = 0;
    for (int i = 0; i < reads && waitpid(child, &status, WNOHANG) == 0; ++i) {
      const std::string seen = readFile("main.ani");
      torn += seen != old && seen != fresh;
    }
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    const std::string left = readFile("main.ani");
    EXPECT_EQ(torn + (left != old && left != fresh), 0) << reads << " reads";
  }
  EXPECT_EQ(readFile("main.ani"), fresh);  // the last run, read to its end
}

}  // namespace
}  // namespace mkani
