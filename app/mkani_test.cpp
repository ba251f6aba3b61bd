// The mkani executable as users run it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "test/test_util.h"

namespace mkani {
namespace {

TEST(MkaniTest, ArgumentsAndEnvironmentChangeNothing) {
  ScopedTempDir dir;
  writeFile("b.jpg");
  ASSERT_EQ(mkdir("sub", 0755), 0);
  writeFile("sub/c.jpg");
  ToolRun plain = runTool();
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(plain.out + plain.err, "");
  const std::string script = readFile("main.ani");
  EXPECT_EQ(picturesIn(script), std::vector<std::string>{"b.jpg"});

  ASSERT_EQ(unlink("main.ani"), 0);
  ToolRun busy = runTool("sub \"*.png\" --help -o other.ani", "export LC_ALL=tr_TR.UTF-8");
  EXPECT_EQ(busy.status, 0);
  EXPECT_EQ(busy.out + busy.err, "");
  EXPECT_EQ(readFile("main.ani"), script);
  EXPECT_EQ(readFile("other.ani") + readFile("sub/main.ani"), "<missing><missing>");

  writeFile("b.jpg.txt");
  ASSERT_EQ(unlink("b.jpg"), 0);
  ToolRun none = runTool("x.jpg");
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.out, "No *.jpg files in current directory!\n");
  EXPECT_EQ(none.err, "");
}

TEST(MkaniTest, FailuresAreReportedWithStatusTwo) {
  ScopedTempDir dir;
  writeFile("a.jpg");
  ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);  // may read, may not write
  ToolRun readOnly = runTool("", "", /*unprivileged=*/true);
  EXPECT_EQ(readOnly.status, 2);
  EXPECT_EQ(readOnly.out, "");
  EXPECT_EQ(readOnly.err, "mkani: cannot write main.ani: Permission denied\n");

  ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
  writeFile("main.ani", "old");
  ASSERT_EQ(chmod("main.ani", 0444), 0);
  ToolRun lockedFile = runTool("", "", true);
  EXPECT_EQ(lockedFile.status, 2);
  EXPECT_EQ(lockedFile.err, "mkani: cannot write main.ani: Permission denied\n");
  EXPECT_EQ(readFile("main.ani"), "old");

  ASSERT_EQ(chmod(dir.path().c_str(), 0311), 0);  // may enter, may not list
  ToolRun unreadable = runTool("", "", true);
  EXPECT_EQ(unreadable.status, 2);
  EXPECT_EQ(unreadable.out, "");  // not taken for an empty folder
  EXPECT_EQ(unreadable.err, "mkani: cannot read the current directory: Permission denied\n");

  // A file size limit stands in for a full disk.
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  ASSERT_EQ(unlink("main.ani"), 0);
  for (int i = 0; i < 100; ++i) writeFile("picture number " + std::to_string(i) + ".jpg");
  ToolRun tooBig = runTool("", "ulimit -f 2; trap \"\" XFSZ");
  EXPECT_EQ(tooBig.status, 2);
  EXPECT_EQ(tooBig.out, "");
  EXPECT_EQ(tooBig.err, "mkani: cannot write main.ani: File too large\n");

  ToolRun fullOutput = runTool("", "rm a.jpg picture*; exec >/dev/full");
  EXPECT_EQ(fullOutput.status, 2);
  EXPECT_EQ(fullOutput.err, "mkani: cannot write to standard output: No space left on device\n");
}

}  // namespace
}  // namespace mkani
