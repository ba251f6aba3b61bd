#include "app/run.h"

#include <gtest/gtest.h>

#include "test/fakes.h"
#include "test/test_util.h"

namespace mkani {
namespace {

// A console that keeps what it is given, a line each: "out: LINE" or "err: LINE".
struct StringConsole : Console {
  bool printLine(std::string_view line, std::string* /*err*/) override {
    text += "out: " + std::string(line) + "\n";
    return true;
  }
  void errorLine(std::string_view line) override { text += "err: " + std::string(line) + "\n"; }
  std::string text;
};

// Runs on `dir` in the current directory; returns the exit status and what the run said.
std::string runOn(DirectorySource* dir) {
  DiskOutputFile file;
  StringConsole console;
  const int status = run(dir, &file, &console);
  return std::to_string(status) + "\n" + console.text;
}

TEST(RunTest, NamesThatCannotStandInTheScriptAreSkippedAndReported) {
  ScopedTempDir dir;
  FakeDirectory some({"a\nb.jpg", "c.jpg", "d\r.jpg", "?x.jpg"});
  const std::string why = "\": a name holding a line break cannot stand in main.ani\n";
  EXPECT_EQ(runOn(&some), "2\nerr: mkani: skipped \"a\\nb.jpg" + why +
                              "err: mkani: skipped \"?x.jpg\": a name outside the ANSI code page, "
                              "without a short name, cannot stand in main.ani\n"
                              "err: mkani: skipped \"d\\r.jpg" +
                              why);
  EXPECT_EQ(readFile("main.ani").substr(58, 12), "c.jpg\t\t;0 \r\n");
  EXPECT_EQ(picturesIn(readFile("main.ani")).size(), 1u);

  // Pictures there, none writable: no script, and no word of an empty folder; past a hundred
  // names no name could open, the rest are counted.
  FakeDirectory none({"\x01\x7f\\\"\t\n.jpg"});
  for (int i = 0; i < 102; ++i) none.listings[0].push_back("?" + std::to_string(i) + ".jpg");
  ASSERT_EQ(std::remove("main.ani"), 0);
  const std::string said = runOn(&none),
                    first = "2\nerr: mkani: skipped \"\\x01\\x7f\\\\\\\"\\t\\n.jpg" + why;
  EXPECT_EQ(said.substr(0, first.size()), first);  // control bytes spelled out
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 103);
  EXPECT_EQ(said.substr(said.size() - 33), "mkani: skipped 2 more such names\n");
  EXPECT_EQ(readFile("main.ani"), "<missing>");
}

TEST(RunTest, AListingThatFailsPartWayLeavesAShortScriptAndSaysSo) {
  ScopedTempDir dir;
  for (size_t after : {2, 1}) {
    FakeDirectory partial({"b.jpg", "a.jpg", "c.jpg"});
    partial.failReadAtPass = 0;
    partial.failReadAfter = after;
    EXPECT_EQ(runOn(&partial),
              "2\nerr: mkani: cannot read the current directory: Input/output "
              "error; main.ani lists only the " +
                  std::string(after == 2 ? "2 pictures" : "1 picture") + " read before it\n");
    EXPECT_EQ(picturesIn(readFile("main.ani")).back(), "b.jpg");
    EXPECT_EQ(picturesIn(readFile("main.ani")).size(), after);
  }
}

}  // namespace
}  // namespace mkani
