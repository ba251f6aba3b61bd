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

// A name holding every byte that is spelled out when the name is reported, and how it is.
const std::string kLineBreakName = "\x01\\\"\t\n\r \x7f.jpg";
const std::string kLineBreakSkipped =
    "err: mkani: skipped \"\\x01\\\\\\\"\\t\\n\\r \\x7f.jpg\": a name holding a line break cannot "
    "stand in main.ani";

// `before`, then a hundred and two names that no name in the script could open, then `after`.
std::vector<std::string> withUnopenable(std::vector<std::string> before,
                                        const std::vector<std::string>& after) {
  for (int i = 0; i < 102; ++i) before.push_back("?" + std::to_string(i) + ".jpg");
  before.insert(before.end(), after.begin(), after.end());
  return before;
}

TEST(RunTest, AListingThatFailsIsReportedAfterTheNamesSkippedAndTheScriptListsWhatWasRead) {
  ScopedTempDir dir;
  const std::string failed = "err: mkani: cannot read the current directory: Input/output error";
  // The listing fails as it reads its last name; then what is said last, how many lines are
  // said, and what main.ani holds. With no picture read, nothing is written and nothing is said
  // of an empty folder.
  const struct {
    std::vector<std::string> names;
    std::string last;
    size_t lines;
    std::string script;
  } cases[] = {
      {withUnopenable({"b.jpg", kLineBreakName}, {"a.jpg", "c.jpg"}),
       failed + "; main.ani lists only the 2 pictures read before it", 103,
       expectedScript({"a.jpg", "b.jpg"})},
      {withUnopenable({kLineBreakName}, {"a.jpg", "c.jpg"}),
       failed + "; main.ani lists only the 1 picture read before it", 103,
       expectedScript({"a.jpg"})},
      {{kLineBreakName, "a.jpg"}, failed, 2, "<missing>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.last);
    FakeDirectory listing(c.names);
    listing.failReadAtPass = 0;
    listing.failReadAfter = c.names.size() - 1;
    DiskOutputFile file;
    LineConsole console;
    std::remove("main.ani");
    EXPECT_EQ(run(&listing, &file, &console), kExitFailed);
    ASSERT_EQ(console.said.size(), c.lines);
    EXPECT_EQ(console.said.front(), kLineBreakSkipped);
    EXPECT_EQ(console.said.back(), c.last);
    EXPECT_EQ(readFile("main.ani"), c.script);
  }
}

TEST(RunTest, NamesThatCannotStandInTheScriptAreSkippedAHundredByName) {
  ScopedTempDir dir;
  FakeDirectory listing(withUnopenable({kLineBreakName}, {"a.jpg"}));
  DiskOutputFile file;
  LineConsole console;
  EXPECT_EQ(run(&listing, &file, &console), kExitFailed);
  ASSERT_EQ(console.said.size(), 102u) << "the line break's, a hundred names, the rest's count";
  EXPECT_EQ(console.said[0], kLineBreakSkipped);
  EXPECT_EQ(console.said[1],
            "err: mkani: skipped \"?0.jpg\": a name outside the ANSI code page, without a short "
            "name, cannot stand in main.ani");
  EXPECT_EQ(console.said[101], "err: mkani: skipped 2 more such names");
  EXPECT_EQ(readFile("main.ani"), expectedScript({"a.jpg"}));
}

// What a run of the mkani executable ended in: its exit status and what it wrote to standard
// output and standard error.
struct Ended {
  explicit Ended(const std::string& run) {
    const size_t afterStatus = run.find('|'), beforeErr = run.rfind('|');
    status = std::stoi(run.substr(0, afterStatus));
    out = run.substr(afterStatus + 1, beforeErr - afterStatus - 1);
    err = run.substr(beforeErr + 1);
  }
  int status;
  std::string out, err;
};

bool startsWith(const std::string& text, const std::string& start) {
  return text.compare(0, start.size(), start) == 0;
}

bool endsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST(RunTest, WithNoPictureMkaniSaysSoAndTouchesNothing) {
  ScopedTempDir dir;
  for (const char* name : {"photo.jpeg", "a.jpg.bak", "ajpg", "main.ani"}) writeFile(name, "mine");
  EXPECT_EQ(runTool("x.jpg"), std::string("1|") + kNoPicturesMessage + kLineEnd + "|");
  EXPECT_EQ(readFile("main.ani"), "mine");
  EXPECT_EQ(entryCount(), 4);
}

// A folder of pictures, with entries that are not pictures and an old main.ani beside them.
class FolderOfPictures : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"photo.jpeg", "a.jpg.bak", "ajpg", "main.ani"})
      writeFile(name, "mine");
    std::filesystem::create_directory("album.jpg");
    for (const char* name : {"sunset.jpg", "Beach.JPG", "holiday.2.jpg", "my trip; day 1.jpg",
                             ".jpg", "album.jpg/c.jpg"}) {
      writeFile(name);
    }
  }

  ScopedTempDir dir;
  const long entries = 10;  // four that are not pictures, album.jpg and five pictures
};

TEST_F(FolderOfPictures, AnAskForHelpOrTheVersionAloneIsAnsweredAndTouchesNothing) {
  const std::string end = kLineEnd;
  // The command line, then the first and the end of the last line printed.
  const struct {
    const char* words;
    std::string first, last;
  } cases[] = {
      {"--help", "Usage: mkani", kMoreHelp},
      {"-h", "Usage: mkani", kMoreHelp},
      {"\"/?\"", "Usage: mkani", kMoreHelp},
      {"--version", "mkani " MKANI_VERSION, "MIT License: free to use, change and share."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.words);
    const Ended asked(runTool(c.words));
    EXPECT_EQ(asked.status, 0);
    EXPECT_TRUE(startsWith(asked.out, c.first + end)) << asked.out;
    EXPECT_TRUE(endsWith(asked.out, c.last + end)) << asked.out;
    EXPECT_EQ(asked.err, "");
    EXPECT_EQ(readFile("main.ani"), "mine");
    EXPECT_EQ(entryCount(), entries);
  }
}

TEST_F(FolderOfPictures, AnyOtherCommandLineIsIgnoredAndEveryPictureListed) {
  for (const char* args : {"", "album.jpg *.png --help -o other.ani", "--help --version", "-h x"}) {
    SCOPED_TRACE(args);
    EXPECT_EQ(runTool(args), "0||");
    EXPECT_EQ(readFile("main.ani"),
              expectedScript({".jpg", "album.jpg", "Beach.JPG", "holiday.2.jpg",
                              "my trip; day 1.jpg", "sunset.jpg"}));
    EXPECT_EQ(entryCount(), entries) << "no other.ani, nothing left behind";
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
  bool fixedSize() const override { return false; }
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
  // Whether giving up damages it, then the run's status and last line.
  const struct {
    bool damaging;
    int status;
    const char* last;
  } cases[] = {
      {false, kExitFailed, "err: mkani: out of memory"},
      {true, kExitDamaged, "err: mkani: out of memory; main.ani is damaged"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.last);
    FakeDirectory dir({"a.jpg"});
    StarvedFile file(c.damaging);
    LineConsole console;
    EXPECT_EQ(run(&dir, &file, &console), c.status);
    EXPECT_EQ(console.said.back(), c.last);
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
