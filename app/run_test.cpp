#include "app/run.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "test/fakes.h"
#include "test/test_util.h"

namespace fs = std::filesystem;

namespace mkani {
namespace {

using Lines = std::vector<std::string>;

// Runs on `dir` (the disk's listing when null) in the current directory.
int runHere(CaptureConsole* console, DirectorySource* dir = nullptr) {
  DiskDirectorySource disk;
  DiskOutputFile file;
  return run(dir ? dir : &disk, &file, console);
}

TEST(RunTest, NoPicturesPrintsOneLineAndTouchesNothing) {
  ScopedTempDir dir;
  writeFile("summer.jpeg");
  writeFile("main.ani", "an older script");
  const fs::file_time_type old = fs::last_write_time("main.ani") - std::chrono::hours(24 * 365);
  fs::last_write_time("main.ani", old);

  CaptureConsole console;
  EXPECT_EQ(runHere(&console), kExitNoPictures);
  EXPECT_EQ(console.out, Lines{"No *.jpg files in current directory!"});
  EXPECT_TRUE(console.err.empty());
  EXPECT_EQ(readFile("main.ani"), "an older script");
  EXPECT_EQ(fs::last_write_time("main.ani"), old);

  CaptureConsole broken;
  broken.stdoutError = "Broken pipe";
  EXPECT_EQ(runHere(&broken), kExitFailed);
  EXPECT_EQ(broken.err, Lines{"mkani: cannot write to standard output: Broken pipe"});
}

TEST(RunTest, ListsEveryMatchingEntryInNameOrder) {
  ScopedTempDir dir;
  for (const char* name : {"sunset.jpg", "Beach.JPG", "holiday.2.jpg", "my trip; day 1.jpg",
                           "photo.jpeg", "a.jpg.bak", ".jpg"}) {
    writeFile(name);
  }
  fs::create_directory("album.jpg");
  writeFile("main.ani", std::string(5000, 'x'));

  CaptureConsole console;
  EXPECT_EQ(runHere(&console), kExitWritten);
  EXPECT_TRUE(console.out.empty());
  EXPECT_TRUE(console.err.empty());
  const std::string script = readFile("main.ani");
  EXPECT_EQ(picturesIn(script), (Lines{".jpg", "album.jpg", "Beach.JPG", "holiday.2.jpg",
                                       "my trip; day 1.jpg", "sunset.jpg"}));
  EXPECT_EQ(script.substr(script.size() - 7), "EOF\r\n\r\n");  // nothing of the old file
}

TEST(RunTest, NamesThatCannotStandInTheScriptAreSkippedAndReported) {
  ScopedTempDir dir;
  FakeDirectory some({"a\nb.jpg", "c.jpg", "d\r.jpg", "?x.jpg"});
  CaptureConsole console;
  EXPECT_EQ(runHere(&console, &some), kExitFailed);
  EXPECT_EQ(picturesIn(readFile("main.ani")), Lines{"c.jpg"});
  EXPECT_NE(readFile("main.ani").find("\t\t0\r\n10\r\n\r\nEOFL"), std::string::npos);  // n = 1
  const std::string why = ": a name holding a line break cannot stand in main.ani";
  EXPECT_EQ(console.err, (Lines{"mkani: skipped \"a\\nb.jpg\"" + why,
                                "mkani: skipped \"?x.jpg\": a name outside the ANSI code page, "
                                "without a short name, cannot stand in main.ani",
                                "mkani: skipped \"d\\r.jpg\"" + why}));

  fs::remove("main.ani");
  FakeDirectory none({"a\nb.jpg"});
  for (int i = 0; i < 102; ++i) none.listings[0].push_back("?" + std::to_string(i) + ".jpg");
  CaptureConsole noneConsole;
  EXPECT_EQ(runHere(&noneConsole, &none), kExitFailed);  // pictures there, none writable: no script
  EXPECT_EQ(noneConsole.err.size(), 102u);
  EXPECT_EQ(noneConsole.err.back(), "mkani: skipped 2 more such names");
  EXPECT_TRUE(noneConsole.out.empty());
  EXPECT_EQ(readFile("main.ani"), "<missing>");
}

TEST(RunTest, ListingFailures) {
  ScopedTempDir dir;
  FakeDirectory partial({"b.jpg", "a.jpg", "c.jpg"});
  partial.failReadAtPass = 0;
  partial.failReadAfter = 2;
  CaptureConsole console;
  EXPECT_EQ(runHere(&console, &partial), kExitFailed);
  EXPECT_EQ(picturesIn(readFile("main.ani")), (Lines{"a.jpg", "b.jpg"}));
  EXPECT_EQ(console.err, Lines{"mkani: cannot read the current directory: Input/output error; "
                               "main.ani lists only the 2 pictures read before it"});
  EXPECT_TRUE(console.out.empty());

  fs::remove("main.ani");
  FakeDirectory locked({"a.jpg"});
  locked.failOpenAtPass = 0;
  CaptureConsole refused;
  EXPECT_EQ(runHere(&refused, &locked), kExitFailed);
  EXPECT_EQ(refused.err, Lines{"mkani: cannot read the current directory: Permission denied"});
  EXPECT_TRUE(refused.out.empty());  // not taken for an empty folder
  EXPECT_EQ(readFile("main.ani"), "<missing>");
}

}  // namespace
}  // namespace mkani
