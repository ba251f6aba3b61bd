#include "app/run.h"

#include <gtest/gtest.h>

#include "test/fakes.h"
#include "test/test_util.h"

namespace mkani {
namespace {

using Lines = std::vector<std::string>;

// Runs on `dir` in the current directory, telling `console`.
int runOn(DirectorySource* dir, CaptureConsole* console) {
  DiskOutputFile file;
  return run(dir, &file, console);
}

TEST(RunTest, NamesThatCannotStandInTheScriptAreSkippedAndReported) {
  ScopedTempDir dir;
  FakeDirectory some({"a\nb.jpg", "c.jpg", "d\r.jpg", "?x.jpg"});
  CaptureConsole console;
  EXPECT_EQ(runOn(&some, &console), kExitFailed);
  EXPECT_EQ(picturesIn(readFile("main.ani")), Lines{"c.jpg"});
  EXPECT_NE(readFile("main.ani").find("\t\t0\r\n10\r\n\r\nEOFL"), std::string::npos);  // n = 1
  const std::string why = ": a name holding a line break cannot stand in main.ani";
  EXPECT_EQ(console.err, (Lines{"mkani: skipped \"a\\nb.jpg\"" + why,
                                "mkani: skipped \"?x.jpg\": a name outside the ANSI code page, "
                                "without a short name, cannot stand in main.ani",
                                "mkani: skipped \"d\\r.jpg\"" + why}));

  // Pictures there, none writable: no script, and no word of an empty folder.
  FakeDirectory none({"a\nb.jpg", "\x01\x7f\\\"\t\n.jpg"});
  for (int i = 0; i < 102; ++i) none.listings[0].push_back("?" + std::to_string(i) + ".jpg");
  CaptureConsole noneConsole;
  ASSERT_EQ(std::remove("main.ani"), 0);
  EXPECT_EQ(runOn(&none, &noneConsole), kExitFailed);
  EXPECT_EQ(noneConsole.err.size(), 103u);
  EXPECT_EQ(noneConsole.err[0], "mkani: skipped \"\\x01\\x7f\\\\\\\"\\t\\n.jpg\"" + why);
  EXPECT_EQ(noneConsole.err.back(), "mkani: skipped 2 more such names");
  EXPECT_TRUE(noneConsole.out.empty());
  EXPECT_EQ(readFile("main.ani"), "<missing>");
}

TEST(RunTest, ListingFailures) {
  ScopedTempDir dir;
  for (size_t after : {2, 1}) {
    FakeDirectory partial({"b.jpg", "a.jpg", "c.jpg"});
    partial.failReadAtPass = 0;
    partial.failReadAfter = after;
    CaptureConsole console;
    EXPECT_EQ(runOn(&partial, &console), kExitFailed);
    EXPECT_EQ(picturesIn(readFile("main.ani")),
              (after == 2 ? Lines{"a.jpg", "b.jpg"} : Lines{"b.jpg"}));
    EXPECT_EQ(console.err,
              Lines{"mkani: cannot read the current directory: Input/output error; "
                    "main.ani lists only the " +
                    std::string(after == 2 ? "2 pictures" : "1 picture") + " read before it"});
    EXPECT_TRUE(console.out.empty());
  }

  ASSERT_EQ(std::remove("main.ani"), 0);
  FakeDirectory locked({"a.jpg"});
  locked.failOpenAtPass = 0;
  CaptureConsole refused;
  EXPECT_EQ(runOn(&locked, &refused), kExitFailed);
  EXPECT_EQ(refused.err, Lines{"mkani: cannot read the current directory: Permission denied"});
  EXPECT_TRUE(refused.out.empty());  // not taken for an empty folder
  EXPECT_EQ(readFile("main.ani"), "<missing>");
}

}  // namespace
}  // namespace mkani
