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

TEST(MkaniWin32Test, WorksInAnyFolderBesideAnotherRunAndWritesInPlaceWhatCannotBeReplaced) {
  ScopedTempDir dir;
  writeFile("a.jpg");
  writeFile("main.ani", "old");
  // Held open by a program that lets others read it only; by one that lets them write it too
  // but not replace it (rewritten in place); by one that lets it be replaced.
  for (const DWORD share : {1, 3, 7}) {  // FILE_SHARE_READ, then WRITE, then DELETE too
    const HANDLE held = CreateFileA("main.ani", GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    std::string outcome = runTool();
    outcome += readFile("main.ani");
    CloseHandle(held);
    EXPECT_EQ(outcome, share == 1 ? "2||mkani: cannot write main.ani: it is in use\r\nold"
                                  : "0||" + expectedScript({"a.jpg"}));
  }
  // Folders that the ANSI code page cannot spell, and one whose path nearly fills MAX_PATH.
  const std::wstring base = std::filesystem::current_path().wstring();
  for (const std::wstring& folder :
       {std::wstring(L"\u0394\u03b7\u03bc\u03ae\u03c4\u03c1\u03b7"), std::wstring(L"\u5199\u771f"),
        std::wstring(250 - base.size() - 1, L'x')}) {
    std::filesystem::create_directory(folder);
    std::filesystem::current_path(folder);
    writeFile("a.jpg");
    EXPECT_EQ(runTool(), "0||");  // then again, over the script it made
    EXPECT_EQ(runTool(), "0||");
    EXPECT_EQ(readFile("main.ani"), expectedScript({"a.jpg"}));
    EXPECT_EQ(entryCount(".mkani-"), 0);
    std::filesystem::current_path(base);
  }
  // Two runs at once, again and again: each writes the script whole.
  for (int round = 0; round < 20; ++round) {
    std::string other;
    std::thread beside([&] { other = runTool(); });
    const std::string one = runTool();
    beside.join();
    EXPECT_EQ(one + other + readFile("main.ani"), "0||0||" + expectedScript({"a.jpg"}));
  }
  EXPECT_EQ(entryCount(".mkani-"), 0);
}

// WideCharToMultiByte as Windows documents it: UTF-8 takes no check for loss.
int strictWideToBytes(unsigned codePage, unsigned long flags, const wchar_t* wide, char* out,
                      int room, int* usedDefault) {
  if (codePage == CP_UTF8 && ((flags & WC_NO_BEST_FIT_CHARS) || usedDefault)) return 0;
  return platformWideToBytes(codePage, flags, wide, out, room, usedDefault);
}

TEST(MkaniWin32Test, EveryNameInTheScriptOpensItsOwnPictureOrIsReportedInAnyCodePage) {
  ScopedTempDir dir;
  const wchar_t* names[] = {L"日本.jpg", L"Ωmega.JPG", L"Omega.JPG",
                            L"café.jpg", L"plain.jpg", L"Ärger.jpg"};
  for (size_t i = 0; i < 6; ++i) std::ofstream(std::filesystem::path(names[i])) << i;
  ASSERT_EQ(runTool(), "0||");
  const std::vector<std::string> listed = picturesIn(readFile("main.ani"));
  std::set<std::string> opened;
  for (const std::string& name : listed) opened.insert(readFile(name));
  EXPECT_EQ(listed.size() + opened.size() - opened.count("<missing>"), 12u);  // six pictures
  EXPECT_EQ(std::count(listed.begin(), listed.end(), "caf\xe9.jpg"), 1);      // its own 1252 bytes
  // Under the UTF-8 code page every name converts; in any, a name that does not is reported.
  const auto failing = [](unsigned, unsigned long, const wchar_t*, char*, int, int*) { return 0; };
  const struct {
    unsigned codePage;
    const wchar_t *longName, *shortName;
    WideToBytes convert;
    std::string name;  // "?" before it when reported
  } cases[] = {
      {CP_UTF8, L"\u0394\u65e5.jpg", L"", strictWideToBytes, "\xce\x94\xe6\x97\xa5.jpg"},
      {1252, L"\u0394.jpg", L"D~1.JPG", strictWideToBytes, "D~1.JPG"},
      {1252, L"\u0394.jpg", L"", strictWideToBytes, "?\xce\x94.jpg"},
      {1252, L"a.jpg", L"A~1.JPG", failing, "?"},
  };
  for (const auto& c : cases) {
    std::string name;
    const auto status = ansiName(c.codePage, c.longName, c.shortName, &name, c.convert);
    EXPECT_EQ((status == DirectorySource::kUnwritable ? "?" : "") + name, c.name);
  }
}

}  // namespace
}  // namespace mkani
