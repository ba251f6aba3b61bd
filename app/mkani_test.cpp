// The mkani executable as users run it.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/console.h"
#include "test/test_util.h"

namespace fs = std::filesystem;

namespace mkani {
namespace {

TEST(MkaniTest, AsksForHelpOrVersionTouchNothingAndOtherArgumentsChangeNothing) {
  ScopedTempDir dir;
  writeFile("b.jpg");
  fs::create_directory("sub");
  writeFile("sub/c.jpg");
  writeFile("main.ani", "hand-tuned");
  const fs::file_time_type old = fs::last_write_time("main.ani") - std::chrono::hours(24);
  fs::last_write_time("main.ani", old);
  const std::string end = kLineEnd;
  for (const char* words : {"--help", "-h", "\"/?\"", "--version"}) {
    ToolRun asked = runTool(words);
    EXPECT_EQ(asked.status, 0) << words;
    EXPECT_EQ(asked.err, "");
    const std::string first = words[2] == 'v' ? "mkani " MKANI_VERSION : "Usage: mkani";
    const std::string last = words[2] == 'v' ? "" : kMoreHelp + end;
    EXPECT_EQ(asked.out.substr(0, first.size() + end.size()), first + end) << words;
    EXPECT_EQ(asked.out.substr(asked.out.size() - last.size()), last) << words;
    EXPECT_EQ(std::count(asked.out.begin(), asked.out.end(), '\n'), words[2] == 'v' ? 2 : 8);
    EXPECT_EQ(readFile("main.ani"), "hand-tuned");
    EXPECT_EQ(fs::last_write_time("main.ani"), old);
    auto entries = fs::directory_iterator(".");
    EXPECT_EQ(std::distance(begin(entries), fs::directory_iterator()), 3);
  }

  ToolRun plain = runTool();
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(plain.out + plain.err, "");
  const std::string script = readFile("main.ani");
  EXPECT_EQ(picturesIn(script), std::vector<std::string>{"b.jpg"});
  for (const char* args : {"sub *.png --help -o other.ani", "--help --version", "-h x"}) {
    fs::remove("main.ani");
    ToolRun busy = runTool(args);
    EXPECT_EQ(busy.status, 0) << args;
    EXPECT_EQ(busy.out + busy.err, "");
    EXPECT_EQ(readFile("main.ani"), script);
    EXPECT_EQ(readFile("other.ani") + readFile("sub/main.ani"), "<missing><missing>");
  }

  writeFile("b.jpg.txt");
  fs::remove("b.jpg");
  fs::remove("main.ani");
  ToolRun none = runTool("x.jpg");
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.out, "No *.jpg files in current directory!" + end);
  EXPECT_EQ(none.err, "");
  EXPECT_EQ(readFile("main.ani"), "<missing>");
}

}  // namespace
}  // namespace mkani
