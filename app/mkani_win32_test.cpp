// The mkani executable where Windows can fail it.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>

#include "test/test_util.h"

namespace mkani {
namespace {

TEST(MkaniWin32Test, ScriptThatCannotBeWrittenStaysAsItWas) {
  ScopedTempDir dir;
  writeFile("a.jpg");
  writeFile("main.ani", "old");
  ASSERT_TRUE(SetFileAttributesA("main.ani", FILE_ATTRIBUTE_READONLY));
  ToolRun readOnly = runTool();
  EXPECT_EQ(readOnly.status, 2);
  EXPECT_EQ(readOnly.out, "");
  EXPECT_EQ(readOnly.err, "mkani: cannot write main.ani: it is read-only\r\n");
  EXPECT_EQ(readFile("main.ani"), "old");
  ASSERT_TRUE(SetFileAttributesA("main.ani", FILE_ATTRIBUTE_NORMAL));

  std::filesystem::remove("main.ani");
  std::filesystem::create_directory("main.ani");
  writeFile("main.ani/inside", "kept");
  ToolRun directory = runTool();
  EXPECT_EQ(directory.status, 2);
  EXPECT_EQ(directory.err, "mkani: cannot write main.ani: it is a directory\r\n");
  EXPECT_EQ(readFile("main.ani/inside"), "kept");
}

}  // namespace
}  // namespace mkani
