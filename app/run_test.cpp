#include "app/run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "test/fake_directory.h"
#include "test/test_util.h"

namespace mkani {
namespace {

const std::string kHeader = ";Automatically created by Pelorin.\r\n\r\nvoice_data\\w.wav\r\n\r\n";

// The script for `names`, built from its line structure.
std::string scriptFor(const std::vector<std::string>& names) {
  std::string text = kHeader;
  for (size_t k = 0; k < names.size(); ++k)
    text += names[k] + "\t\t;" + std::to_string(k) + " \r\n";
  text += "\r\nEOJ\r\n";
  for (size_t k = 0; k < names.size(); ++k) {
    text += "\t\t" + std::to_string(k) + "\r\n" + std::to_string(10 * (k + 1));
  }
  text += "\r\n\r\nEOFL\r\n\r\n";
  for (size_t k = 0; k < names.size(); ++k) {
    text += "\"\"\r\n\"\"\r\n" + std::to_string(10 * (k + 1)) + "\r\n";
  }
  return text + "\r\n\"EOTL\"\r\n\r\nEOF\r\n\r\n";
}

int runHere(CaptureConsole* console) {
  DiskDirectorySource dir;
  return run(&dir, console);
}

TEST(RunTest, NoPicturesPrintsOneLineAndTouchesNothing) {
  ScopedTempDir dir;
  writeFile("summer.jpeg");
  writeFile("jpg");
  writeFile("main.ani", "an older script");
  const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, "main.ani", old, 0), 0);

  CaptureConsole console;
  EXPECT_EQ(runHere(&console), kExitNoPictures);
  EXPECT_EQ(console.out, std::vector<std::string>{"No *.jpg files in current directory!"});
  EXPECT_TRUE(console.err.empty());
  EXPECT_EQ(readFile("main.ani"), "an older script");
  struct stat st;
  ASSERT_EQ(stat("main.ani", &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);

  ScopedTempDir empty;
  CaptureConsole quiet;
  quiet.stdoutError = "Broken pipe";
  EXPECT_EQ(runHere(&quiet), kExitFailed);
  EXPECT_EQ(quiet.err,
            std::vector<std::string>{"mkani: cannot write to standard output: Broken pipe"});
  EXPECT_EQ(readFile("main.ani"), "<missing>");
}

TEST(RunTest, ListsEveryMatchingEntryInNameOrder) {
  ScopedTempDir dir;
  writeFile("sunset.jpg", "not really a picture");
  writeFile("Beach.JPG");  // empty
  writeFile(".hidden.jpg");
  writeFile("holiday.2.jpg");
  writeFile("my trip; day 1.jpg");
  writeFile("photo.jpeg");
  ASSERT_EQ(mkdir("album.jpg", 0755), 0);
  ASSERT_EQ(symlink("nowhere", "gone.jpg"), 0);
  writeFile("main.ani", std::string(5000, 'x'));

  CaptureConsole console;
  EXPECT_EQ(runHere(&console), kExitWritten);
  EXPECT_TRUE(console.out.empty());
  EXPECT_TRUE(console.err.empty());
  EXPECT_EQ(readFile("main.ani"), scriptFor({".hidden.jpg", "album.jpg", "Beach.JPG", "gone.jpg",
                                             "holiday.2.jpg", "my trip; day 1.jpg", "sunset.jpg"}));
}

TEST(RunTest, NamesWithLineBreaksAreSkippedAndReported) {
  ScopedTempDir dir;
  writeFile("a\nb.jpg");
  writeFile("c.jpg");
  writeFile("d\r.jpg");
  CaptureConsole console;
  EXPECT_EQ(runHere(&console), kExitFailed);
  EXPECT_EQ(readFile("main.ani"), scriptFor({"c.jpg"}));
  EXPECT_EQ(console.err, (std::vector<std::string>{
                             "mkani: skipped \"a\\nb.jpg\": a name holding a line break cannot "
                             "stand in main.ani",
                             "mkani: skipped \"d\\r.jpg\": a name holding a line break cannot "
                             "stand in main.ani"}));
  EXPECT_TRUE(console.out.empty());

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
  EXPECT_EQ(readFile("main.ani"), scriptFor({"a.jpg", "b.jpg"}));
  EXPECT_EQ(console.err, std::vector<std::string>{
                             "mkani: cannot read the current directory: Input/output error; "
                             "main.ani lists only the 2 pictures read before it"});
  EXPECT_TRUE(console.out.empty());

  ASSERT_EQ(unlink("main.ani"), 0);
  FakeDirectory locked({"a.jpg"});
  locked.failOpenAtPass = 0;
  CaptureConsole refused;
  EXPECT_EQ(run(&locked, &refused), kExitFailed);
  EXPECT_EQ(refused.err, std::vector<std::string>{
                             "mkani: cannot read the current directory: Permission denied"});
  EXPECT_TRUE(refused.out.empty());  // not taken for an empty folder
  EXPECT_EQ(readFile("main.ani"), "<missing>");
}

TEST(RunTest, ScriptThatCannotBeOpened) {
  ScopedTempDir dir;
  writeFile("a.jpg");
  ASSERT_EQ(mkdir("main.ani", 0755), 0);
  writeFile("main.ani/inside", "kept");
  CaptureConsole console;
  EXPECT_EQ(runHere(&console), kExitFailed);
  EXPECT_EQ(console.err, std::vector<std::string>{"mkani: cannot write main.ani: Is a directory"});
  EXPECT_TRUE(console.out.empty());
  EXPECT_EQ(readFile("main.ani/inside"), "kept");
}

}  // namespace
}  // namespace mkani
