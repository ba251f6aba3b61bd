// The mkani executable as users run it.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

#include "test/test_util.h"

namespace mkani {
namespace {

TEST(MkaniTest, ArgumentsAndEnvironmentChangeNothing) {
  ScopedTempDir dir;
  writeFile("b.jpg");
  writeFile("a.png");
  ASSERT_EQ(mkdir("sub", 0755), 0);
  writeFile("sub/c.jpg");

  ToolRun plain = runTool(dir.path());
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(plain.out, "");
  EXPECT_EQ(plain.err, "");
  const std::string script = readFile("main.ani");
  ASSERT_NE(script.find("b.jpg\t\t;0 \r\n\r\nEOJ"), std::string::npos);

  ASSERT_EQ(unlink("main.ani"), 0);
  ToolRun busy = runTool(dir.path(), {"sub", "*.png", "--help", "-o", "other.ani"}, [] {
    setenv("LC_ALL", "tr_TR.UTF-8", 1);
    setenv("MKANI", "*.png", 1);
  });
  EXPECT_EQ(busy.status, 0);
  EXPECT_EQ(busy.out, "");
  EXPECT_EQ(busy.err, "");
  EXPECT_EQ(readFile("main.ani"), script);
  EXPECT_EQ(readFile("other.ani"), "<missing>");
  EXPECT_EQ(readFile("sub/main.ani"), "<missing>");
}

TEST(MkaniTest, NoPicturesAndBrokenOutput) {
  ScopedTempDir dir;
  writeFile("a.jpeg");
  ToolRun run = runTool(dir.path(), {"x.jpg"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "No *.jpg files in current directory!\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(readFile("main.ani"), "<missing>");

  if (access("/dev/full", W_OK) == 0) {
    ToolRun full = runTool(dir.path(), {}, [] { freopen("/dev/full", "w", stdout); });
    EXPECT_EQ(full.status, 2);
    EXPECT_EQ(full.err, "mkani: cannot write to standard output: No space left on device\n");
  }
}

TEST(MkaniTest, FailuresAreReportedWithStatusTwo) {
  ScopedTempDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  writeFile("a.jpg");

  // A folder the user may read but not write to.
  ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
  ToolRun readOnly = runTool(dir.path(), {}, dropPrivileges);
  EXPECT_EQ(readOnly.status, 2);
  EXPECT_EQ(readOnly.out, "");
  EXPECT_EQ(readOnly.err, "mkani: cannot write main.ani: Permission denied\n");

  // A read-only main.ani keeps its bytes.
  ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
  writeFile("main.ani", "old");
  ASSERT_EQ(chmod("main.ani", 0444), 0);
  ToolRun lockedFile = runTool(dir.path(), {}, dropPrivileges);
  EXPECT_EQ(lockedFile.status, 2);
  EXPECT_EQ(lockedFile.err, "mkani: cannot write main.ani: Permission denied\n");
  EXPECT_EQ(readFile("main.ani"), "old");

  // A folder the user may not list is not an empty one.
  ASSERT_EQ(chmod(dir.path().c_str(), 0311), 0);
  ToolRun unreadable = runTool(dir.path(), {}, dropPrivileges);
  EXPECT_EQ(unreadable.status, 2);
  EXPECT_EQ(unreadable.out, "");
  EXPECT_EQ(unreadable.err, "mkani: cannot read the current directory: Permission denied\n");
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);

  // A file size limit stands in for a full disk.
  ASSERT_EQ(unlink("main.ani"), 0);
  for (int i = 0; i < 100; ++i) writeFile("picture number " + std::to_string(i) + ".jpg");
  ToolRun tooBig = runTool(dir.path(), {}, [] {
    rlimit limit{1000, 1000};
    signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limit);
  });
  EXPECT_EQ(tooBig.status, 2);
  EXPECT_EQ(tooBig.out, "");
  EXPECT_EQ(tooBig.err, "mkani: cannot write main.ani: File too large\n");
}

}  // namespace
}  // namespace mkani
