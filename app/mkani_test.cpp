// The mkani executable as users run it.
#include <gtest/gtest.h>

#include <filesystem>

#include "test/test_util.h"

namespace fs = std::filesystem;

namespace mkani {
namespace {

TEST(MkaniTest, ArgumentsAndEnvironmentChangeNothing) {
  ScopedTempDir dir;
  writeFile("b.jpg");
  fs::create_directory("sub");
  writeFile("sub/c.jpg");
  ToolRun plain = runTool();
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(plain.out + plain.err, "");
  const std::string script = readFile("main.ani");
  EXPECT_EQ(picturesIn(script), std::vector<std::string>{"b.jpg"});

  fs::remove("main.ani");
  ToolRun busy = runTool("sub *.png --help -o other.ani");
  EXPECT_EQ(busy.status, 0);
  EXPECT_EQ(busy.out + busy.err, "");
  EXPECT_EQ(readFile("main.ani"), script);
  EXPECT_EQ(readFile("other.ani") + readFile("sub/main.ani"), "<missing><missing>");

  writeFile("b.jpg.txt");
  fs::remove("b.jpg");
  fs::remove("main.ani");
  ToolRun none = runTool("x.jpg");
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.out, std::string("No *.jpg files in current directory!") + kLineEnd);
  EXPECT_EQ(none.err, "");
  EXPECT_EQ(readFile("main.ani"), "<missing>");
}

}  // namespace
}  // namespace mkani
