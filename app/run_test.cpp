#include "app/run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <new>

#include "test/test_util.h"

namespace mkani {

// A console that keeps the lines it is given for standard error, as "err: LINE"; standard
// output takes none.
struct LineConsole : Console {
  bool printLine(std::string_view /*line*/, std::string* /*err*/) override { return false; }
  void errorLine(std::string_view line) override { said.push_back("err: " + std::string(line)); }
  std::vector<std::string> said;
};

TEST(RunTest, ReportsSkippedNamesAndFailuresListsEveryPictureAndAnswersALoneAskForHelp) {
  ScopedTempDir dir;
  const std::string skipped = "err: mkani: skipped \"", stand = " cannot stand in main.ani";
  const std::string failed = "err: mkani: cannot read the current directory: Input/output error";
  // The listing fails before its last name: after two pictures or one, a name with a line break
  // and a hundred and two that no name could open; or after the line break alone, when nothing
  // is written and nothing is said of an empty folder.
  for (const size_t pictures : {2, 1, 0}) {
    FakeDirectory dir({"b.jpg", "\x01\\\"\t\n\r \x7f.jpg"});
    for (int i = 0; i < 102 && pictures > 0; ++i)
      dir.names.push_back("?" + std::to_string(i) + ".jpg");
    dir.names.insert(dir.names.end(), {"a.jpg", "c.jpg"});
    if (pictures < 2) dir.names.erase(dir.names.begin());
    dir.failReadAtPass = 0;
    dir.failReadAfter = pictures > 0 ? dir.names.size() - 1 : 1;
    DiskOutputFile file;
    LineConsole console;
    std::remove("main.ani");
    EXPECT_EQ(run(&dir, &file, &console), kExitFailed);
    EXPECT_EQ(console.said[0],
              skipped + "\\x01\\\\\\\"\\t\\n\\r \\x7f.jpg\": a name holding a line break" + stand);
    EXPECT_EQ(console.said.back() + readFile("main.ani"),
              failed + (pictures ? "; main.ani lists only the " : "") +
                  (pictures == 2 ? "2 pictures read before it" + expectedScript({"a.jpg", "b.jpg"})
                   : pictures    ? "1 picture read before it" + expectedScript({"a.jpg"})
                                 : "<missing>"));
    if (pictures == 0) continue;
    EXPECT_EQ(console.said[1] + console.said[101] + std::to_string(console.said.size()),
              skipped + "?0.jpg\": a name outside the ANSI code page, without a short name," +
                  stand + "err: mkani: skipped 2 more such names103");
  }

  // The mkani executable as users run it.
  const std::string end = kLineEnd;
  // No picture: one line, and an old script keeps its bytes; asking for help or the version
  // touches nothing either.
  for (const char* name : {"photo.jpeg", "a.jpg.bak", "ajpg", "main.ani"}) writeFile(name, "mine");
  EXPECT_EQ(runTool("x.jpg"), "1|No *.jpg files in current directory!" + end + "|");
  std::filesystem::create_directory("album.jpg");
  for (const char* name : {"sunset.jpg", "Beach.JPG", "holiday.2.jpg", "my trip; day 1.jpg", ".jpg",
                           "album.jpg/c.jpg"})
    writeFile(name);
  for (const std::string words : {"--help", "-h", "\"/?\"", "--version"}) {
    const std::string asked = runTool(words);
    const bool version = words == "--version";
    const std::string first = version ? "mkani " MKANI_VERSION : "Usage: mkani";
    const std::string last = version ? "MIT License: free to use, change and share." : kMoreHelp;
    EXPECT_EQ(asked.substr(0, first.size() + end.size() + 2), "0|" + first + end);
    EXPECT_EQ(asked.substr(asked.size() - last.size() - end.size() - 1), last + end + "|");
    EXPECT_EQ(readFile("main.ani") + " in " + std::to_string(entryCount()), "mine in 10");
  }

  for (const char* args : {"", "album.jpg *.png --help -o other.ani", "--help --version", "-h x"}) {
    EXPECT_EQ(runTool(args), "0||") << args;
    EXPECT_EQ(readFile("main.ani"),
              expectedScript({".jpg", "album.jpg", "Beach.JPG", "holiday.2.jpg",
                              "my trip; day 1.jpg", "sunset.jpg"}));
    EXPECT_EQ(entryCount(), 10);  // no other.ani, nothing left behind
  }
}

// A script file that fails as it is closed, and does not say whether that damaged it.
struct FailingFile : OutputFile {
  bool open(const char* /*path*/, uint64_t /*size*/, std::string* /*err*/) override { return true; }
  bool write(const char* /*data*/, size_t /*size*/, std::string* /*err*/) override { return true; }
  bool close(std::string* err) override {
    *err = "Input/output error";
    return false;
  }
  void discard() override {}
};

// One whose rewrite fails and leaves it damaged.
struct DamagingFile : FailingFile {
  bool close(std::string* err) override {
    *err = "Input/output error; main.ani is damaged";
    return false;
  }
  bool damaged() const override { return true; }
};

TEST(RunTest, AFailedScriptIsNotTakenForADamagedOne) {
  FakeDirectory dir({"a.jpg"});
  FailingFile file;
  LineConsole console;
  EXPECT_EQ(run(&dir, &file, &console), kExitFailed);
}

TEST(RunTest, ADamagedScriptHasAStatusOfItsOwn) {
  FakeDirectory dir({"a.jpg"});
  DamagingFile file;
  LineConsole console;
  EXPECT_EQ(run(&dir, &file, &console), kExitDamaged);
  EXPECT_EQ(console.said.back(),
            "err: mkani: cannot write main.ani: Input/output error; main.ani is damaged");
}

// A script file that runs out of memory as it is written, and then is damaged, or not.
struct StarvedFile : DamagingFile {
  explicit StarvedFile(bool damaging) : damaging(damaging) {}
  bool write(const char* /*data*/, size_t /*size*/, std::string* /*err*/) override {
    throw std::bad_alloc();
  }
  void discard() override { discarded = true; }
  bool damaged() const override { return damaging && discarded; }
  bool damaging, discarded = false;
};

TEST(RunTest, RunningOutOfMemoryMidWriteGivesTheFileUpAndSaysWhetherItIsDamaged) {
  // Whether giving up damages it, then what the run ends in.
  const std::pair<bool, std::string> cases[] = {
      {false, "2 err: mkani: out of memory"},
      {true, "3 err: mkani: out of memory; main.ani is damaged"},
  };
  for (const auto& [damaging, outcome] : cases) {
    FakeDirectory dir({"a.jpg"});
    StarvedFile file(damaging);
    LineConsole console;
    const int status = run(&dir, &file, &console);
    EXPECT_EQ(std::to_string(status) + " " + console.said.back(), outcome);
  }
}

// Forty pictures, to which a picture at the end of the order comes while they are listed again.
struct GrowingDirectory : FakeDirectory {
  GrowingDirectory() {
    for (int k = 10; k < 50; ++k) names.push_back("p" + std::to_string(k) + ".jpg");
  }
  bool open(const char* pattern, std::string* err) override {
    if (passes == 3) names.push_back("z.jpg");
    return FakeDirectory::open(pattern, err);
  }
};

TEST(RunTest, AFolderThatGrowsWhileTheScriptIsRewrittenInPlaceFillsOnlyTheRoomMade) {
  ScopedTempDir dir;
  GrowingDirectory growing;
  FakeRunStore noRuns;
  noRuns.failAppendAt = 0;  // the folder is listed again for each batch
  FaultyFile inPlace({{DiskOutputFile::Step::kCreate, kAccessDenied}});
  LineConsole console;
  const std::vector<std::string> first(growing.names);
  EXPECT_EQ(run(&growing, &noRuns, 300, &inPlace, &console), kExitFailed);
  EXPECT_EQ(console.said.back(),
            "err: mkani: the folder grew while main.ani was rewritten in place; it leaves out the "
            "last 1 picture");
  EXPECT_EQ(readFile("main.ani"), expectedScript(first));
}

TEST(RunTest, AFolderThatGrowsWhileTheScriptIsReplacedWholeIsListedWhole) {
  ScopedTempDir dir;
  GrowingDirectory growing;
  FakeRunStore noRuns;
  noRuns.failAppendAt = 0;
  DiskOutputFile whole;
  LineConsole console;
  EXPECT_EQ(run(&growing, &noRuns, 300, &whole, &console), kExitWritten);
  EXPECT_EQ(readFile("main.ani"), expectedScript(growing.names));
}

}  // namespace mkani
