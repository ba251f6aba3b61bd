// The mkani executable where Windows can fail it, and the names it gives Windows pictures.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <thread>
#include <tuple>

#include "search/ansi_name.h"
#include "test/test_util.h"
#include "util/platform.h"

namespace mkani {

// WideCharToMultiByte as Windows documents it: UTF-8 takes no check for loss.
int strictWideToBytes(unsigned codePage, unsigned long flags, const wchar_t* wide, char* out,
                      int room, int* usedDefault) {
  if (codePage == CP_UTF8 && ((flags & WC_NO_BEST_FIT_CHARS) || usedDefault)) return 0;
  return platformWideToBytes(codePage, flags, wide, out, room, usedDefault);
}

// WideCharToMultiByte as Windows XP has it: it knows no WC_ERR_INVALID_CHARS.
int xpWideToBytes(unsigned codePage, unsigned long flags, const wchar_t* wide, char* out, int room,
                  int* usedDefault) {
  if (flags & WC_ERR_INVALID_CHARS) return 0;
  return strictWideToBytes(codePage, flags, wide, out, room, usedDefault);
}

TEST(MkaniWin32Test, MessagesAreUtf8AndAConsoleIsGivenThemInUtf16) {
  EXPECT_EQ(wideFromUtf8("Acc\xc3\xa8s refus\xc3\xa9\r\n"), L"Acc\u00e8s refus\u00e9\r\n");
  // The system's text reads back as the wide call gives it, less its period and line end.
  wchar_t text[512];
  DWORD size = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                              ERROR_ACCESS_DENIED, 0, text, 512, nullptr);
  while (size > 0 && std::wstring(L"\r\n .").find(text[size - 1]) != std::wstring::npos) --size;
  EXPECT_EQ(wideFromUtf8(systemError(ERROR_ACCESS_DENIED)), std::wstring(text, size));
}

TEST(MkaniWin32Test, OnWindowsXpNamesConvertToUtf8Too) {
  // The code page, the long name, and the name written ("?" before it when it is reported).
  const std::tuple<unsigned, const wchar_t*, std::string> cases[] = {
      {1252, L"\u0394.jpg", "?\xce\x94.jpg"},
      {CP_UTF8, L"\u0394.jpg", "\xce\x94.jpg"},
      {CP_UTF8, L"\xd800.jpg", "?\xef\xbf\xbd.jpg"},  // a lone surrogate: shown, not written
  };
  for (const auto& [codePage, longName, written] : cases) {
    std::string name;
    const auto status = ansiName(codePage, longName, L"", &name, xpWideToBytes);
    EXPECT_EQ((status == DirectorySource::kUnwritable ? "?" : "") + name, written);
  }
}

TEST(MkaniWin32Test, EveryNameIsListedInAnyFolderBesideAnotherRunOrReportedInAnyCodePage) {
  ScopedTempDir dir;
  const std::wstring base = std::filesystem::current_path().wstring();
  // Folders that the ANSI code page cannot spell, and one whose path nearly fills MAX_PATH; in
  // each, pictures named in several scripts, listed twice (the second run replaces the first).
  for (const std::wstring& folder :
       {std::wstring(L"\u0394\u03b7\u03bc\u03ae\u03c4\u03c1\u03b7"), std::wstring(L"\u5199\u771f"),
        std::wstring(250 - base.size() - 1, L'x')}) {
    std::filesystem::create_directory(folder);
    std::filesystem::current_path(folder);
    int content = 0;
    for (const wchar_t* name : {L"日本.jpg", L"Ωmega.JPG", L"Omega.JPG", L"café.jpg", L"Ä.jpg"})
      std::ofstream(std::filesystem::path(name)) << content++;
    EXPECT_EQ(runTool() + runTool(), "0||0||");
    // Every name is listed: the long one or, outside the ANSI code page, its short 8.3 one.
    EXPECT_NE(readFile("main.ani").find("\t\t;4 \r\n\r\nEOJ"), std::string::npos);
    EXPECT_EQ(entryCount(".mkani-"), 0);
    std::filesystem::current_path(base);
  }
  // Two runs at once, again and again: each writes the script whole.
  writeFile("a.jpg");
  for (int round = 0; round < 20; ++round) {
    std::string other;
    std::thread beside([&] { other = runTool(); });
    const std::string one = runTool();
    beside.join();
    EXPECT_EQ(one + other + readFile("main.ani"), "0||0||" + expectedScript({"a.jpg"}));
  }
  EXPECT_EQ(entryCount(".mkani-"), 0);
  // Under the UTF-8 code page every name converts; in any, a name that does not is reported.
  const auto failing = [](unsigned, unsigned long, const wchar_t*, char*, int, int*) { return 0; };
  // The code page, the long and short names, the conversion, and the name written ("?" before
  // it when the entry is reported).
  const std::tuple<unsigned, const wchar_t*, const wchar_t*, WideToBytes, std::string> cases[] = {
      {CP_UTF8, L"\u0394\u65e5.jpg", L"", strictWideToBytes, "\xce\x94\xe6\x97\xa5.jpg"},
      {1252, L"\u0394.jpg", L"", strictWideToBytes, "?\xce\x94.jpg"},
      {1252, L"a.jpg", L"A~1.JPG", failing, "?"},
  };
  for (const auto& [codePage, longName, shortName, convert, written] : cases) {
    std::string name;
    const auto status = ansiName(codePage, longName, shortName, &name, convert);
    EXPECT_EQ((status == DirectorySource::kUnwritable ? "?" : "") + name, written);
  }
}

}  // namespace mkani
