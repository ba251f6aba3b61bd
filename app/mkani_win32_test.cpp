// The mkani executable where Windows can fail it, and the names it gives Windows pictures.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "test/test_util.h"

namespace mkani {
namespace {

TEST(MkaniWin32Test, ScriptThatCannotBeReplacedStaysAsItWas) {
  ScopedTempDir dir;
  writeFile("a.jpg");
  writeFile("main.ani", "old");
  ASSERT_TRUE(SetFileAttributesA("main.ani", FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(runTool(), "2||mkani: cannot write main.ani: it is read-only\r\n");
  ASSERT_TRUE(SetFileAttributesA("main.ani", FILE_ATTRIBUTE_HIDDEN));

  // Held open by a program that lets others read and write it but not replace it; then by one
  // that lets it be replaced.
  for (const DWORD share : {FILE_SHARE_READ | FILE_SHARE_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE}) {
    const HANDLE held = CreateFileA("main.ani", GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    const std::string outcome = runTool();
    CloseHandle(held);
    const bool replaced = share & FILE_SHARE_DELETE;
    EXPECT_EQ(outcome, replaced ? "0||" : "2||mkani: cannot write main.ani: it is in use\r\n");
    EXPECT_EQ(readFile("main.ani") == "old", !replaced);
  }
  EXPECT_TRUE(GetFileAttributesA("main.ani") & FILE_ATTRIBUTE_HIDDEN);  // as it was
  EXPECT_EQ(entryCount(".mkani-"), 0);                                  // no scratch file left

  std::filesystem::remove("main.ani");
  std::filesystem::create_directory("main.ani");
  EXPECT_EQ(runTool(), "2||mkani: cannot write main.ani: it is a directory\r\n");
}

TEST(MkaniWin32Test, EveryNameInTheScriptOpensItsOwnPicture) {
  ScopedTempDir dir;
  const wchar_t* names[] = {L"日本.jpg", L"Ωmega.JPG", L"Omega.JPG",
                            L"café.jpg", L"plain.jpg", L"Ärger.jpg"};
  for (size_t i = 0; i < 6; ++i) std::ofstream(std::filesystem::path(names[i])) << i;
  ASSERT_EQ(runTool(), "0||");
  const std::vector<std::string> listed = picturesIn(readFile("main.ani"));
  std::set<std::string> opened;
  for (const std::string& name : listed) opened.insert(readFile(name));
  EXPECT_EQ(listed.size() + opened.size(), 12u);  // six lines, six pictures
  EXPECT_EQ(opened.count("<missing>"), 0u);
  EXPECT_EQ(std::count(listed.begin(), listed.end(), "caf\xe9.jpg"), 1);  // its own 1252 bytes
}

}  // namespace
}  // namespace mkani
