#include "app/run.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <new>

#include "test/test_util.h"

namespace mkani {

// A console that keeps the lines it is given for standard error; standard output takes none.
struct LineConsole : Console {
  bool printLine(std::string_view /*line*/, std::string* /*err*/) override { return false; }
  void errorLine(std::string_view line) override { said.emplace_back(line); }
  std::vector<std::string> said;
};

// A script file that takes every byte, or runs out of memory at the first, and fails as it is
// closed.
struct StubFile : OutputFile {
  explicit StubFile(bool starves) : starves(starves) {}
  bool open(const char* /*path*/, uint64_t /*size*/, std::string* /*err*/) override { return true; }
  bool write(const char* /*data*/, size_t /*size*/, std::string* /*err*/) override {
    if (starves) throw std::bad_alloc();
    return true;
  }
  bool close(std::string* err) override {
    givenUp = true;
    *err = damaged() ? "Input/output error; main.ani is damaged" : "Input/output error";
    return false;
  }
  void discard() override { givenUp = true; }
  bool fixedSize() const override { return false; }
  bool starves;
  bool givenUp = false;
};

// One that is damaged once given up or closed.
struct DamagingFile : StubFile {
  using StubFile::StubFile;
  bool damaged() const override { return givenUp; }
};

TEST(RunTest, NamesSkippedAreSaidFirstAndAFailureLastWithTheRunsStatus) {
  ScopedTempDir dir;
  DiskOutputFile disk;
  StubFile closeFails(false);
  DamagingFile damaging(false);
  StubFile starved(true);
  DamagingFile starvedDamaging(true);
  const std::string failed = "mkani: cannot read the current directory: Input/output error";
  const std::string io = "mkani: cannot write main.ani: Input/output error";
  const std::string oom = "mkani: out of memory";
  const std::string damaged = "; main.ani is damaged";
  const std::string more = "mkani: skipped 2 more such names";
  // The names listed after a name with a line break and a hundred and two that no name in the
  // script could open; whether the listing fails as it reads the last of them; the script's
  // file; then the run's status, its last line and what main.ani holds.
  const struct {
    std::vector<std::string> names;
    bool fails;
    OutputFile* file;
    int status;
    std::string last;
    std::string script;
  } cases[] = {
      {{"b.jpg", "a.jpg", "c.jpg"},
       true,
       &disk,
       kExitFailed,
       failed + "; main.ani lists only the 2 pictures read before it",
       expectedScript({"a.jpg", "b.jpg"})},
      {{"a.jpg", "c.jpg"},
       true,
       &disk,
       kExitFailed,
       failed + "; main.ani lists only the 1 picture read before it",
       expectedScript({"a.jpg"})},
      // No picture read: nothing is written, and nothing said of an empty folder.
      {{"a.jpg"}, true, &disk, kExitFailed, failed, "<missing>"},
      {{"a.jpg"}, false, &disk, kExitFailed, more, expectedScript({"a.jpg"})},
      {{"a.jpg"}, false, &closeFails, kExitFailed, io, "<missing>"},
      {{"a.jpg"}, false, &damaging, kExitDamaged, io + damaged, "<missing>"},
      {{"a.jpg"}, false, &starved, kExitFailed, oom, "<missing>"},
      {{"a.jpg"}, false, &starvedDamaging, kExitDamaged, oom + damaged, "<missing>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.last);
    FakeDirectory listing({"\x01\\\"\t\n\r \x7f.jpg"});
    for (int i = 0; i < 102; ++i) listing.names.push_back("?" + std::to_string(i) + ".jpg");
    listing.names.insert(listing.names.end(), c.names.begin(), c.names.end());
    listing.failReadAtPass = c.fails ? 0 : -1;
    listing.failReadAfter = listing.names.size() - 1;
    LineConsole console;
    std::remove("main.ani");
    EXPECT_EQ(run(&listing, c.file, &console), c.status);
    // The lines of the names skipped, then the failure's own unless there is none.
    ASSERT_EQ(console.said.size(), c.last == more ? 102u : 103u);
    EXPECT_EQ(console.said[0],
              "mkani: skipped \"\\x01\\\\\\\"\\t\\n\\r \\x7f.jpg\": a name holding a line break "
              "cannot stand in main.ani");
    EXPECT_EQ(console.said[1],
              "mkani: skipped \"?0.jpg\": a name outside the ANSI code page, without a short name, "
              "cannot stand in main.ani");
    EXPECT_EQ(console.said[101], more);
    EXPECT_EQ(console.said.back(), c.last);
    EXPECT_EQ(readFile("main.ani"), c.script);
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

TEST(RunTest, AFolderThatGrowsAsItIsListedAgainIsListedWholeOrFillsTheRoomMadeInPlace) {
  ScopedTempDir dir;
  // The error that has the script rewritten in place, the run's status and what it says, and
  // how many of the pictures main.ani lists.
  const struct {
    int inPlace;
    int status;
    std::vector<std::string> said;
    size_t listed;
  } cases[] = {
      {0, kExitWritten, {}, 41},
      {kAccessDenied,
       kExitFailed,
       {"mkani: the folder grew while main.ani was rewritten in place; it leaves out the last 1 "
        "picture"},
       40},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.listed);
    GrowingDirectory growing;
    FakeRunStore noRuns;
    noRuns.failAppendAt = 0;  // the folder is listed again for each batch
    FaultyFile file({{DiskOutputFile::Step::kCreate, c.inPlace}});
    LineConsole console;
    EXPECT_EQ(run(&growing, &noRuns, 300, &file, &console), c.status);
    EXPECT_EQ(console.said, c.said);
    EXPECT_EQ(readFile("main.ani"),
              expectedScript({growing.names.begin(), growing.names.begin() + c.listed}));
  }
}

// The last `size` bytes of `text`, or all of it.
std::string tail(const std::string& text, size_t size) {
  return text.substr(text.size() - std::min(size, text.size()));
}

TEST(RunTest, MkaniAnswersAHelpOrVersionAskAloneAndIgnoresAnyOtherCommandLine) {
  ScopedTempDir dir;
  for (const char* name : {"photo.jpeg", "a.jpg.bak", "ajpg", "main.ani"}) writeFile(name, "mine");
  EXPECT_EQ(runTool("x.jpg"), std::string("1|") + kNoPicturesMessage + kLineEnd + "|");
  EXPECT_EQ(readFile("main.ani"), "mine");
  EXPECT_EQ(entryCount(), 4);

  fs::create_directory("album.jpg");
  for (const char* name : {"sunset.jpg", "Beach.JPG", "holiday.2.jpg", "my trip; day 1.jpg", ".jpg",
                           "album.jpg/c.jpg"}) {
    writeFile(name);
  }
  const std::string end = kLineEnd;
  // The command line, then how what mkani ends in ("STATUS|OUT|ERR") begins and ends.
  const struct {
    const char* words;
    std::string first;
    std::string last;
  } asks[] = {
      {"--help", "0|Usage: mkani" + end, kMoreHelp + end + "|"},
      {"-h", "0|Usage: mkani" + end, kMoreHelp + end + "|"},
      {"\"/?\"", "0|Usage: mkani" + end, kMoreHelp + end + "|"},
      {"--version", "0|mkani " MKANI_VERSION + end,
       "MIT License: free to use, change and share." + end + "|"},
  };
  for (const auto& ask : asks) {
    SCOPED_TRACE(ask.words);
    const std::string ended = runTool(ask.words);
    EXPECT_EQ(ended.substr(0, ask.first.size()), ask.first);
    EXPECT_EQ(tail(ended, ask.last.size()), ask.last);
    EXPECT_EQ(readFile("main.ani"), "mine");
  }
  for (const char* words :
       {"", "album.jpg *.png --help -o other.ani", "--help --version", "-h x"}) {
    SCOPED_TRACE(words);
    writeFile("main.ani", "mine");
    EXPECT_EQ(runTool(words), "0||");
    EXPECT_EQ(readFile("main.ani"),
              expectedScript({".jpg", "album.jpg", "Beach.JPG", "holiday.2.jpg",
                              "my trip; day 1.jpg", "sunset.jpg"}));
    EXPECT_EQ(entryCount(), 10) << "no other.ani, nothing left behind";
  }
}

}  // namespace mkani
