// The mkani executable where Windows can fail it, and the names it gives Windows pictures.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <thread>

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

// A conversion that fails whatever it is given.
int failingWideToBytes(unsigned, unsigned long, const wchar_t*, char*, int, int*) {
  return 0;
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

TEST(MkaniWin32Test, ANameConvertsToTheCodePageOrIsReportedInUtf8OnWindowsXpToo) {
  // The conversion, the code page, the long and short names, whether the entry is reported,
  // and the name written or reported. Under the UTF-8 code page every name converts.
  const struct {
    const char* what;
    WideToBytes convert;
    unsigned codePage;
    const wchar_t* longName;
    const wchar_t* shortName;
    bool reported;
    std::string name;
  } cases[] = {
      {"XP, Greek in 1252", xpWideToBytes, 1252, L"\u0394.jpg", L"", true, "\xce\x94.jpg"},
      {"XP, Greek in UTF-8", xpWideToBytes, CP_UTF8, L"\u0394.jpg", L"", false, "\xce\x94.jpg"},
      // A lone surrogate: shown, not written.
      {"XP, a lone surrogate", xpWideToBytes, CP_UTF8, L"\xd800.jpg", L"", true,
       "\xef\xbf\xbd.jpg"},
      {"Greek and Japanese in UTF-8", strictWideToBytes, CP_UTF8, L"\u0394\u65e5.jpg", L"", false,
       "\xce\x94\xe6\x97\xa5.jpg"},
      {"Greek in 1252", strictWideToBytes, 1252, L"\u0394.jpg", L"", true, "\xce\x94.jpg"},
      {"neither name converts", failingWideToBytes, 1252, L"a.jpg", L"A~1.JPG", true, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string name;
    const auto status = ansiName(c.codePage, c.longName, c.shortName, &name, c.convert);
    EXPECT_EQ(status == DirectorySource::kUnwritable, c.reported);
    EXPECT_EQ(name, c.name);
  }
}

TEST(MkaniWin32Test, TwoRunsAtOnceListEveryNameInFoldersTheCodePageCannotSpellAndNearMaxPath) {
  ScopedTempDir dir;
  const std::wstring base = std::filesystem::current_path().wstring();
  // In each, pictures named in several scripts.
  for (const std::wstring& folder :
       {std::wstring(L"\u0394\u03b7\u03bc\u03ae\u03c4\u03c1\u03b7"), std::wstring(L"\u5199\u771f"),
        std::wstring(250 - base.size() - 1, L'x')}) {
    std::filesystem::create_directory(folder);
    std::filesystem::current_path(folder);
    int content = 0;
    for (const wchar_t* name : {L"日本.jpg", L"Ωmega.JPG", L"Omega.JPG", L"café.jpg", L"Ä.jpg"})
      std::ofstream(std::filesystem::path(name)) << content++;
    // Two runs at a time: each but the first to finish replaces a script.
    std::string first;
    for (int round = 0; round < 7; ++round) {
      SCOPED_TRACE(round);
      std::string other;
      std::thread beside([&] { other = runTool(); });
      EXPECT_EQ(runTool(), "0||");
      beside.join();
      EXPECT_EQ(other, "0||");
      // Every name is listed: the long one or, outside the ANSI code page, its short 8.3 one.
      const std::string script = readFile("main.ani");
      EXPECT_NE(script.find("\t\t;4 \r\n\r\nEOJ"), std::string::npos);
      // Whole: one script, ending where it should, the same bytes each round.
      EXPECT_EQ(script.find("EOF\r\n\r\n"), script.size() - 7);
      if (round == 0) first = script;
      EXPECT_EQ(script, first);
    }
    EXPECT_EQ(entryCount(".mkani-"), 0) << "a scratch file was left";
    std::filesystem::current_path(base);
  }
}

}  // namespace mkani
