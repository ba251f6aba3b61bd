#include "app/run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "test/fake_directory.h"
#include "test/test_util.h"

namespace mkani {
namespace {

using Lines = std::vector<std::string>;

int runHere(CaptureConsole* console) {
  DiskDirectorySource dir;
  return run(&dir, console);
}

TEST(RunTest, NoPicturesPrintsOneLineAndTouchesNothing) {
  ScopedTempDir dir;
  writeFile("summer.jpeg");
  writeFile("main.ani", "an older script");
  const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, "main.ani", old, 0), 0);

  CaptureConsole console;
  EXPECT_EQ(runHere(&console), kExitNoPictures);
  EXPECT_EQ(console.out, Lines{"No *.jpg files in current directory!"});
  EXPECT_TRUE(console.err.empty());
  EXPECT_EQ(readFile("main.ani"), "an older script");
  struct stat st;
  ASSERT_EQ(stat("main.ani", &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);

  CaptureConsole broken;
  broken.stdoutError = "Broken pipe";
  EXPECT_EQ(runHere(&broken), kExitFailed);
  EXPECT_EQ(broken.err, Lines{"mkani: cannot write to standard output: Broken pipe"});
}

TEST(RunTest, ListsEveryMatchingEntryInNameOrder) {
  ScopedTempDir dir;
  for (const char* name : {"sunset.jpg", "Beach.JPG", ".hidden.jpg", "holiday.2.jpg",
                           "my trip; day 1.jpg", "photo.jpeg", "a.jpg.bak"}) {
    writeFile(name);
  }
  ASSERT_EQ(mkdir("album.jpg", 0755), 0);
  ASSERT_EQ(symlink("nowhere", "gone.jpg"), 0);
  writeFile("main.ani", std::string(5000, 'x'));

  CaptureConsole console;
  EXPECT_EQ(runHere(&console), kExitWritten);
  EXPECT_TRUE(console.out.empty());
  EXPECT_TRUE(console.err.empty());
  const std::string script = readFile("main.ani");
  EXPECT_EQ(picturesIn(script), (Lines{".hidden.jpg", "album.jpg", "Beach.JPG", "gone.jpg",
                                       "holiday.2.jpg", "my trip; day 1.jpg", "sunset.jpg"}));
  EXPECT_EQ(script.substr(script.size() - 7), "EOF\r\n\r\n");  // nothing of the old file
}

TEST(RunTest, NamesWithLineBreaksAreSkippedAndReported) {
  ScopedTempDir dir;
  writeFile("a\nb.jpg");
  writeFile("c.jpg");
  writeFile("d\r.jpg");
  CaptureConsole console;
  EXPECT_EQ(runHere(&console), kExitFailed);
  EXPECT_EQ(picturesIn(readFile("main.ani")), Lines{"c.jpg"});
  EXPECT_NE(readFile("main.ani").find("\t\t0\r\n10\r\n\r\nEOFL"), std::string::npos);  // n = 1
  const std::string why = ": a name holding a line break cannot stand in main.ani";
  EXPECT_EQ(console.err,
            (Lines{"mkani: skipped \"a\\nb.jpg\"" + why, "mkani: skipped \"d\\r.jpg\"" + why}));

  ASSERT_EQ(unlink("c.jpg"), 0);
  ASSERT_EQ(unlink("main.ani"), 0);
  CaptureConsole none;
  EXPECT_EQ(runHere(&none), kExitFailed);  // pictures there, none writable: no script
  EXPECT_EQ(none.err.size(), 2u);
  EXPECT_TRUE(none.out.empty());
  EXPECT_EQ(readFile("main.ani"), "<missing>");
}

TEST(RunTest, ListingFailures) {
  ScopedTempDir dir;
  FakeDirectory partial({"b.jpg", "a.jpg", "c.jpg"});
  partial.failReadAtPass = 0;
  partial.failReadAfter = 2;
  CaptureConsole console;
  EXPECT_EQ(run(&partial, &console), kExitFailed);
  EXPECT_EQ(picturesIn(readFile("main.ani")), (Lines{"a.jpg", "b.jpg"}));
  EXPECT_EQ(console.err, Lines{"mkani: cannot read the current directory: Input/output error; "
                               "main.ani lists only the 2 pictures read before it"});
  EXPECT_TRUE(console.out.empty());

  ASSERT_EQ(unlink("main.ani"), 0);
  FakeDirectory locked({"a.jpg"});
  locked.failOpenAtPass = 0;
  CaptureConsole refused;
  EXPECT_EQ(run(&locked, &refused), kExitFailed);
  EXPECT_EQ(refused.err, Lines{"mkani: cannot read the current directory: Permission denied"});
  EXPECT_TRUE(refused.out.empty());  // not taken for an empty folder
  EXPECT_EQ(readFile("main.ani"), "<missing>");
}

}  // namespace
}  // namespace mkani
