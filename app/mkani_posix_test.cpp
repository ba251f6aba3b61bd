// The mkani executable where POSIX systems can fail it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "test/test_util.h"

namespace mkani {
namespace {

TEST(MkaniPosixTest, FailuresAreReportedWithStatusTwo) {
  ScopedTempDir dir;
  writeFile("a.jpg");
  ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);  // may read, may not write
  ToolRun readOnly = runToolAfter("", /*unprivileged=*/true);
  EXPECT_EQ(readOnly.status, 2);
  EXPECT_EQ(readOnly.out, "");
  EXPECT_EQ(readOnly.err, "mkani: cannot write main.ani: Permission denied\n");

  ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
  writeFile("main.ani", "old");
  ASSERT_EQ(chmod("main.ani", 0444), 0);
  ToolRun lockedFile = runToolAfter("", true);
  EXPECT_EQ(lockedFile.status, 2);
  EXPECT_EQ(lockedFile.err, "mkani: cannot write main.ani: Permission denied\n");
  EXPECT_EQ(readFile("main.ani"), "old");

  ASSERT_EQ(chmod(dir.path().c_str(), 0311), 0);  // may enter, may not list
  ToolRun unreadable = runToolAfter("", true);
  EXPECT_EQ(unreadable.status, 2);
  EXPECT_EQ(unreadable.out, "");  // not taken for an empty folder
  EXPECT_EQ(unreadable.err, "mkani: cannot read the current directory: Permission denied\n");

  // A file size limit stands in for a full disk.
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  ASSERT_EQ(unlink("main.ani"), 0);
  for (int i = 0; i < 100; ++i) writeFile("picture number " + std::to_string(i) + ".jpg");
  ToolRun tooBig = runToolAfter("ulimit -f 2; trap \"\" XFSZ");
  EXPECT_EQ(tooBig.status, 2);
  EXPECT_EQ(tooBig.out, "");
  EXPECT_EQ(tooBig.err, "mkani: cannot write main.ani: File too large\n");

  ToolRun fullOutput = runToolAfter("rm a.jpg picture*; exec >/dev/full");
  EXPECT_EQ(fullOutput.status, 2);
  EXPECT_EQ(fullOutput.err, "mkani: cannot write to standard output: No space left on device\n");
}

TEST(MkaniPosixTest, ListsLinksAndNamesAsRawBytes) {
  ScopedTempDir dir;
  ASSERT_EQ(symlink("nowhere", "gone.jpg"), 0);
  writeFile("\xe9t\xe9.JPG");
  writeFile(".hidden.jpg");
  ASSERT_EQ(runTool().status, 0);
  EXPECT_EQ(picturesIn(readFile("main.ani")),
            (std::vector<std::string>{".hidden.jpg", "gone.jpg", "\xe9t\xe9.JPG"}));
}

}  // namespace
}  // namespace mkani
