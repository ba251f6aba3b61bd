// The mkani executable where Windows can fail it, and the names it gives Windows pictures.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "search/ansi_name.h"
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

  // Held open by a program that lets others read it only; by one that lets them write it too
  // but not replace it (rewritten in place); by one that lets it be replaced.
  for (const DWORD share : {DWORD{FILE_SHARE_READ}, DWORD{FILE_SHARE_READ | FILE_SHARE_WRITE},
                            DWORD{FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE}}) {
    const HANDLE held = CreateFileA("main.ani", GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    const std::string outcome = runTool();
    CloseHandle(held);
    const bool written = share & FILE_SHARE_WRITE;
    EXPECT_EQ(outcome, written ? "0||" : "2||mkani: cannot write main.ani: it is in use\r\n");
    EXPECT_EQ(readFile("main.ani") == "old", !written);
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

// WideCharToMultiByte as Windows documents it: UTF-8 takes no check for loss.
int strictWideToBytes(unsigned codePage, unsigned long flags, const wchar_t* wide, char* out,
                      int room, int* usedDefault) {
  if (codePage == CP_UTF8 && ((flags & WC_NO_BEST_FIT_CHARS) || usedDefault)) return 0;
  return platformWideToBytes(codePage, flags, wide, out, room, usedDefault);
}

TEST(MkaniWin32Test, NamesConvertInAnyCodePageOrAreReportedNeverDropped) {
  const auto failing = [](unsigned, unsigned long, const wchar_t*, char*, int, int*) { return 0; };
  const struct {
    unsigned codePage;
    const wchar_t *longName, *shortName;
    WideToBytes convert;
    std::string name;
    DirectorySource::Status status;
  } cases[] = {
      {CP_UTF8, L"\u0394\u65e5.jpg", L"", strictWideToBytes, "\xce\x94\xe6\x97\xa5.jpg",
       DirectorySource::kName},
      {1252, L"caf\u00e9.jpg", L"CAFE~1.JPG", strictWideToBytes, "caf\xe9.jpg",
       DirectorySource::kName},
      {1252, L"\u0394.jpg", L"D~1.JPG", strictWideToBytes, "D~1.JPG", DirectorySource::kName},
      {1252, L"\u0394.jpg", L"", strictWideToBytes, "\xce\x94.jpg", DirectorySource::kUnwritable},
      {1252, L"a.jpg", L"A~1.JPG", failing, "", DirectorySource::kUnwritable},
  };
  for (const auto& c : cases) {
    std::string name = "stale";
    EXPECT_EQ(ansiName(c.codePage, c.longName, c.shortName, &name, c.convert), c.status);
    EXPECT_EQ(name, c.name);
  }
}

TEST(MkaniWin32Test, WorksInAnyFolderTheCurrentDirectoryCanBeAndBesideAnotherRun) {
  ScopedTempDir dir;
  const std::wstring base = std::filesystem::current_path().wstring();
  // Folders that the ANSI code page cannot spell, and one whose path nearly fills MAX_PATH.
  for (const std::wstring& folder :
       {std::wstring(L"\u0394\u03b7\u03bc\u03ae\u03c4\u03c1\u03b7\u03c2"),
        std::wstring(L"\u5199\u771f"), std::wstring(250 - base.size() - 1, L'x')}) {
    std::filesystem::create_directory(folder);
    std::filesystem::current_path(folder);
    writeFile("a.jpg");
    for (const char* old : {"", "old"}) {
      if (*old) writeFile("main.ani", old);
      EXPECT_EQ(runTool(), "0||") << folder.size();
      EXPECT_EQ(readFile("main.ani"), expectedScript({"a.jpg"})) << folder.size();
      EXPECT_EQ(entryCount(".mkani-"), 0);
    }
    std::filesystem::current_path(base);
  }
  // Two runs at once, again and again: each writes the script whole.
  writeFile("b.jpg");
  for (int round = 0; round < 20; ++round) {
    std::string first;
    std::thread other([&] { first = runTool(); });
    EXPECT_EQ(runTool(), "0||");
    other.join();
    EXPECT_EQ(first, "0||");
    EXPECT_EQ(readFile("main.ani"), expectedScript({"b.jpg"}));
  }
  EXPECT_EQ(entryCount(".mkani-"), 0);
}

}  // namespace
}  // namespace mkani
