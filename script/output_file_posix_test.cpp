// The script's file on POSIX systems: which way it takes the place of the old one.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <thread>

#include "script/output_file.h"
#include "test/test_util.h"
#include "util/platform.h"
#include "util/scratch_file.h"
#include "util/stops.h"

namespace mkani {

using Step = DiskOutputFile::Step;

// What main.ani holds once a run has ended: the new script written whole or in place, the old
// script, or neither.
std::string wayTaken(const std::string& now, const std::string& fresh, const std::string& old,
                     const DiskOutputFile& file) {
  if (now == old) return "old";
  if (now != fresh) return "neither";
  return file.inPlace() ? "in place" : "whole";
}

// Returns `err` up to the beginning of a scratch file's name in it, which changes from run to run.
std::string upToScratchName(const std::string& err) {
  const size_t name = err.find(".mkani-");
  return name == std::string::npos ? err : err.substr(0, name + 7);
}

TEST(OutputFilePosixTest, StepsDownToInPlaceWhereAWholeReplacementIsRefusedElseKeepsTheOld) {
  ScopedTempDir dir;
  const std::vector<std::string> names = {"a.jpg", "b.jpg"};
  const std::string fresh = expectedScript(names);
  const std::string old(400, 'o');  // longer than the new one
  const bool root = geteuid() == 0;
  const unsigned owner = root ? 65534 : geteuid();
  const std::string io = "cannot write main.ani: Input/output error";
  struct Case {
    std::map<Step, int> faults;
    std::string way;     // what main.ani holds at the end
    std::string reason;  // the run's error, up to a scratch file's name
  };
  const Case cases[] = {
      {{}, "whole", ""},
      {{{Step::kCreate, EACCES}}, "in place", ""},
      {{{Step::kCreate, ENOSPC}, {Step::kCut, EIO}}, "old", io},  // put back
      {{{Step::kCreate, EACCES}, {Step::kClose, EPERM}},
       "in place",
       "cannot write main.ani: closing it failed after the new script was written whole: "
       "Operation not permitted"},
      {{{Step::kCreate, EIO}}, "old", io},
      {{{Step::kRename, EXDEV}, {Step::kReopen, EIO}}, "old", io},
      {{{Step::kOwner, EINVAL}}, root ? "in place" : "whole", ""},  // only root gives owners
      {{{Step::kMode, ENOSYS}}, "in place", ""},
      {{{Step::kAccessList, EPERM}}, "in place", ""},   // removing an inherited list
      {{{Step::kAccessList, EACCES}}, "in place", ""},  // setting the old script's own
      {{{Step::kRename, EXDEV}, {Step::kRemove, EPERM}},
       "in place",
       "cannot write main.ani: the new script was written in place, but its scratch file .mkani-"},
      {{{Step::kWrite, EIO}}, "old", io},
      {{{Step::kName, EEXIST}}, "old", "cannot write main.ani: File exists"},
      {{{Step::kClose, EIO}}, "old", io},
      {{{Step::kCreate, EPERM}, {Step::kWrite, EIO}}, "old", io},
  };
  for (const Case& c : cases) {
    writeFile("main.ani", old);
    chmod("main.ani", 0640);
    if (root) chown("main.ani", 65534, 65534);
    const auto list = c.faults.find(Step::kAccessList);
    if (list != c.faults.end() && list->second == EACCES) std::system("setfacl -m u:9:r main.ani");
    FaultyFile file(c.faults);
    const std::string err = writeScript(names, &file);
    const std::string label = c.way + ", " + c.reason;
    EXPECT_EQ(wayTaken(readFile("main.ani"), fresh, old, file), c.way) << label;
    EXPECT_EQ(upToScratchName(err), c.reason) << label;
    // Whole, the new script or the old, with its mode and owner; a scratch file left is named.
    struct stat st;
    ASSERT_EQ(stat("main.ani", &st), 0) << label;
    EXPECT_EQ(st.st_mode & 07777, 0640u) << label;
    EXPECT_EQ(st.st_uid, owner) << label;
    EXPECT_EQ(entryCount(".mkani-"), c.faults.count(Step::kRemove)) << label;
    std::system("rm -f .mkani-*");
  }
}

TEST(OutputFilePosixTest, NothingIsLeftOpenByAStoreOfRunsOrAFileGivenUpUnwritten) {
  ScopedTempDir dir;
  writeFile("main.ani", "old");
  const int lowest = dup(0);  // the lowest free descriptor, once closed
  close(lowest);
  std::string err;
  {
    DiskRunStore runs;
    ASSERT_TRUE(runs.create(&err)) << err;
  }
  FaultyFile({{Step::kCreate, EACCES}}).open("main.ani", 9, &err);
  EXPECT_EQ(fcntl(lowest, F_GETFD), -1);
}

TEST(OutputFilePosixTest, AScriptThatWasNotThereIsMadeWholeOrInPlace) {
  const std::vector<std::string> names = {"a.jpg", "b.jpg"};
  for (const bool inPlace : {false, true}) {
    ScopedTempDir dir;
    FaultyFile first({{inPlace ? Step::kCreate : Step::kRemove, EACCES}});
    EXPECT_EQ(writeScript(names, &first), "") << inPlace;
    EXPECT_EQ(readFile("main.ani"), expectedScript(names)) << inPlace;
    EXPECT_EQ(first.inPlace(), inPlace);
  }
}

// Names for a script past the 64 KiB that a copy in place moves at a time.
std::vector<std::string> manyNames() {
  std::vector<std::string> names;
  for (int k = 0; k < 3000; ++k) names.push_back("frame-" + std::to_string(10000 + k) + ".jpg");
  return names;
}

// Returns the name of the scratch file in the current directory, or "" when there is none.
std::string scratchName() {
  for (const auto& entry : fs::directory_iterator(".")) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(".mkani-", 0) == 0 && name.size() > 4 && name.substr(name.size() - 4) == ".tmp")
      return name;
  }
  return "";
}

// The scratch file's name with the ending that a copy of the old script takes.
std::string copyName(const std::string& scratch) {
  return scratch.substr(0, scratch.rfind('.')) + ".old";
}

// The script's file, whose rename does what a rename that moves the old file away first may do:
// leave a copy of the old script beside the scratch file, or remove the old file (`loses`) or
// move it to the copy's name (`moves`) and then fail with `fails`.
struct CopyingRename : FaultyFile {
  using FaultyFile::FaultyFile;
  int fault(Step step) override {
    if (step != Step::kRename) return FaultyFile::fault(step);
    const std::string copy = copyName(scratchName());
    if (loses) {
      std::remove("main.ani");
    } else if (moves) {
      std::rename("main.ani", copy.c_str());
    } else {
      writeFile(copy, readFile("main.ani"));
    }
    return fails;
  }
  bool loses = false, moves = false;
  int fails = 0;
};

TEST(OutputFilePosixTest, ACopyOfTheOldScriptThatTheRenameLeftIsRemoved) {
  ScopedTempDir dir;
  writeFile("main.ani", "old");
  CopyingRename file;
  EXPECT_EQ(writeScript({"a.jpg"}, &file), "");
  EXPECT_EQ(readFile("main.ani"), expectedScript({"a.jpg"}));
  EXPECT_EQ(entryCount(".mkani-"), 0);
}

TEST(OutputFilePosixTest, ACopyOfTheOldScriptThatCannotBeRemovedIsNamed) {
  ScopedTempDir dir;
  writeFile("main.ani", "old");
  CopyingRename file({{Step::kRemove, EPERM}});
  const std::string err = writeScript({"a.jpg"}, &file);
  const std::string said =
      "cannot write main.ani: the new script is in place, but the old one's "
      "copy ";
  ASSERT_EQ(err.substr(0, said.size()), said);
  const std::string copy = err.substr(said.size(), err.find(' ', said.size()) - said.size());
  EXPECT_EQ(err.substr(said.size() + copy.size()), " cannot be removed: Operation not permitted");
  EXPECT_EQ(readFile(copy), "old");
  EXPECT_EQ(readFile("main.ani"), expectedScript({"a.jpg"}));
}

TEST(OutputFilePosixTest, ARenameThatLosesTheOldScriptNamesTheFilesThatHoldBoth) {
  for (const bool moved : {false, true}) {
    ScopedTempDir dir;
    writeFile("main.ani", "old");
    CopyingRename file;
    file.loses = !moved;
    file.moves = moved;
    file.fails = EIO;
    const std::string err = writeScript({"a.jpg"}, &file);
    const std::string scratch = scratchName();
    std::string said =
        "cannot write main.ani: Input/output error; the new script is kept in " + scratch;
    if (moved) said += " and the old one in " + copyName(scratch);
    EXPECT_EQ(err, said);
    EXPECT_EQ(readFile(scratch), expectedScript({"a.jpg"})) << moved;
    EXPECT_EQ(readFile("main.ani"), "<missing>") << "not made again in place";
  }
}

TEST(OutputFilePosixTest, ACopyThatAnEarlierRunLeftUnderThisRunsNameIsNotTakenForTheOldScript) {
  ScopedTempDir dir;
  writeFile("main.ani", "old");
  const std::string earlier = ".mkani-" + std::to_string(getpid()) + "-0.old";
  writeFile(earlier, "an earlier run's");
  CopyingRename file;
  file.loses = true;
  file.fails = EIO;
  const std::string err = writeScript({"a.jpg"}, &file);
  ASSERT_EQ(scratchName(), ".mkani-" + std::to_string(getpid()) + "-0.tmp") << "another name";
  EXPECT_EQ(
      err, "cannot write main.ani: Input/output error; the new script is kept in " + scratchName());
  EXPECT_EQ(readFile(earlier), "<missing>");
}

TEST(OutputFilePosixTest, ACopyInPlaceCutShortOverAScriptTooLargeToKeepKeepsTheNewOneNamed) {
  ScopedTempDir dir;
  writeFile("main.ani", std::string(DiskOutputFile::kKeptMax + 1, 'o'));
  FaultyFile cut({{Step::kRename, EBUSY}, {Step::kWrite, EIO}});
  cut.writesBeforeFault = 2;
  const std::string err = writeScript(manyNames(), &cut);
  const std::string kept = scratchName();
  EXPECT_EQ(err,
            "cannot write main.ani: Input/output error; main.ani is damaged; the new script "
            "is kept in " +
                kept);
  EXPECT_TRUE(cut.damaged());
  EXPECT_EQ(readFile(kept), expectedScript(manyNames()));
}

TEST(OutputFilePosixTest, ARewriteInPlaceCutShortPutsTheOldScriptBack) {
  // Where it fails: a write past the first, the cut after them.
  for (const Step step : {Step::kWrite, Step::kCut}) {
    ScopedTempDir dir;
    writeFile("main.ani", std::string(300000, 'o'));  // longer than the new script, to be cut
    FaultyFile file({{Step::kCreate, EACCES}, {step, EIO}});
    file.writesBeforeFault = 1;
    EXPECT_EQ(writeScript(manyNames(), &file, 4096), "cannot write main.ani: Input/output error");
    EXPECT_EQ(readFile("main.ani"), std::string(300000, 'o')) << static_cast<int>(step);
  }
}

TEST(OutputFilePosixTest, ARewriteInPlaceOfAScriptWrittenAloneCannotBePutBackAndSaysSo) {
  ScopedTempDir dir;
  writeFile("main.ani", "old");
  chmod("main.ani", 0200);
  if (access("main.ani", R_OK) == 0) GTEST_SKIP() << "root reads any file";
  FaultyFile file({{Step::kCreate, EACCES}, {Step::kWrite, EIO}});
  file.writesBeforeFault = 1;
  EXPECT_EQ(writeScript(manyNames(), &file, 4096),
            "cannot write main.ani: Input/output error; main.ani is damaged");
  EXPECT_TRUE(file.damaged());
}

TEST(OutputFilePosixTest, ACopyInPlaceThatFailsBeforeItsFirstByteKeepsTheOldScriptAndNoScratch) {
  ScopedTempDir dir;
  writeFile("main.ani", "old");
  FaultyFile refused({{Step::kRename, EBUSY}, {Step::kWrite, EIO}});
  refused.writesBeforeFault = 1;  // the scratch file's one write
  EXPECT_EQ(writeScript(manyNames(), &refused), "cannot write main.ani: Input/output error");
  EXPECT_EQ(readFile("main.ani"), "old");
  EXPECT_EQ(entryCount(".mkani-"), 0);
}

TEST(OutputFilePosixTest, AFirstScriptThatFailsInPlaceIsRemoved) {
  // The way it fails, then what it says.
  const std::pair<std::map<Step, int>, std::string> cases[] = {
      {{{Step::kCreate, EACCES}, {Step::kRoom, ENOSPC}}, "No space left on device"},
      {{{Step::kCreate, EACCES}, {Step::kWrite, EIO}}, "Input/output error"},
  };
  for (const auto& [faults, reason] : cases) {
    ScopedTempDir dir;
    FaultyFile file(faults);
    EXPECT_EQ(writeScript({"a.jpg"}, &file), "cannot write main.ani: " + reason);
    EXPECT_EQ(readFile("main.ani"), "<missing>") << reason;
  }
}

TEST(OutputFilePosixTest, AFailedRunLeavesAScriptThatAnotherMadeMeanwhile) {
  ScopedTempDir dir;
  struct Replacing : FaultyFile {
    using FaultyFile::FaultyFile;
    int fault(Step step) override {
      if (step == Step::kRoom) {  // another program puts its own main.ani there
        std::remove("main.ani");
        writeFile("main.ani", "theirs");
      }
      return FaultyFile::fault(step);
    }
  } file({{Step::kCreate, EACCES}, {Step::kRoom, ENOSPC}});
  writeScript({"a.jpg"}, &file);
  EXPECT_EQ(readFile("main.ani"), "theirs");
}

TEST(OutputFilePosixTest, AFirstScriptPastTheFileSizeLimitIsNeverCreated) {
  ScopedTempDir dir;
  signal(SIGXFSZ, SIG_IGN);  // as mkani has it
  struct rlimit was;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &was), 0);
  struct Watching : FaultyFile {
    using FaultyFile::FaultyFile;
    int fault(Step step) override {
      if (step == Step::kRoom) created = readFile("main.ani") != "<missing>";
      return FaultyFile::fault(step);
    }
    bool created = false;
  } file({{Step::kCreate, EACCES}});
  const struct rlimit limit = {100, was.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  const std::string err = writeScript({"a.jpg"}, &file);
  setrlimit(RLIMIT_FSIZE, &was);
  EXPECT_EQ(err, "cannot write main.ani: File too large");
  EXPECT_FALSE(file.created);
}

TEST(OutputFilePosixTest, AScriptOfExactlyTheFileSizeLimitIsWritten) {
  ScopedTempDir dir;
  signal(SIGXFSZ, SIG_IGN);  // as mkani has it
  const std::string fresh = expectedScript({"a.jpg"});
  struct rlimit was;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &was), 0);
  const struct rlimit limit = {fresh.size(), was.rlim_max};
  FaultyFile file;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  const std::string err = writeScript({"a.jpg"}, &file);
  setrlimit(RLIMIT_FSIZE, &was);
  EXPECT_EQ(err, "");
  EXPECT_EQ(readFile("main.ani"), fresh);
}

TEST(OutputFilePosixTest, ASecondRewriteInPlaceWaitsForTheFirstAndSaysSo) {
  ScopedTempDir dir;
  writeFile("main.ani", "old");
  const int first = open("main.ani", O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(flock(first, LOCK_EX), 0);  // a run rewriting it
  std::string said;
  std::atomic<bool> ended{false};
  std::thread firstRun;
  FaultyFile second({{Step::kCreate, EACCES}}, [&](const std::string& line) {
    said = line;
    firstRun = std::thread([&] {  // the first run ends a moment later
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      ended = true;
      close(first);
    });
  });
  EXPECT_EQ(writeScript({"a.jpg"}, &second), "");
  const bool endedFirst = ended;
  firstRun.join();
  EXPECT_EQ(said, "waiting for another run to finish writing main.ani");
  EXPECT_TRUE(endedFirst);
  EXPECT_EQ(readFile("main.ani"), expectedScript({"a.jpg"}));
}

TEST(OutputFilePosixTest, ARewriteInPlaceThatNoOtherRunHoldsGoesOnWithoutWaiting) {
  // Locked at once, or on a file system that keeps no locks.
  for (const int lockError : {0, ENOLCK}) {
    ScopedTempDir dir;
    writeFile("main.ani", "old");
    std::string said;
    FaultyFile file({{Step::kCreate, EACCES}, {Step::kLock, lockError}},
                    [&](const std::string& line) { said = line; });
    EXPECT_EQ(writeScript({"a.jpg"}, &file), "") << lockError;
    EXPECT_EQ(said, "") << lockError;
    EXPECT_EQ(readFile("main.ani"), expectedScript({"a.jpg"})) << lockError;
  }
}

TEST(OutputFilePosixTest, AnAttributeThatCannotBeCarriedOverStepsDownToInPlace) {
  // A user's attribute refused for want of room or of permission: only a security label may be
  // left to the folder.
  const std::pair<Step, int> faults[] = {
      {Step::kListAttributes, ENOSPC},
      {Step::kReadAttribute, ENOSPC},
      {Step::kWriteAttribute, ENOSPC},
      {Step::kWriteAttribute, EPERM},
  };
  for (const auto& [step, error] : faults) {
    ScopedTempDir dir;
    writeFile("main.ani", "old");
    if (setxattr("main.ani", "user.note", "kept", 4, 0) != 0)
      GTEST_SKIP() << "no user attributes on " << dir.path;
    FaultyFile file({{step, error}});
    EXPECT_EQ(writeScript({"a.jpg"}, &file), "");
    EXPECT_TRUE(file.inPlace()) << static_cast<int>(step) << ", " << error;
    char note[4] = {};
    EXPECT_EQ(getxattr("main.ani", "user.note", note, sizeof note), 4);
  }
}

TEST(OutputFilePosixTest, AnAttributeWithAnEmptyValueIsCarriedOverWhole) {
  ScopedTempDir dir;
  writeFile("main.ani", "old");
  if (setxattr("main.ani", "user.empty", "", 0, 0) != 0)
    GTEST_SKIP() << "no user attributes on " << dir.path;
  FaultyFile file;
  EXPECT_EQ(writeScript({"a.jpg"}, &file), "");
  EXPECT_FALSE(file.inPlace());
  char value[1];
  EXPECT_EQ(getxattr("main.ani", "user.empty", value, sizeof value), 0);
}

TEST(OutputFilePosixTest, AFirstScriptGivenUpWithoutACloseIsRemovedWhenItsFileGoes) {
  ScopedTempDir dir;
  {
    FaultyFile file({{Step::kCreate, EACCES}});
    std::string err;
    ASSERT_TRUE(file.open("main.ani", 100, &err)) << err;
    ASSERT_TRUE(file.write("new", 3, &err)) << err;
  }
  EXPECT_EQ(readFile("main.ani"), "<missing>");
}

// The script's file on disk, whose new file is labelled as a security module (SELinux, Smack)
// labels one at its creation: it carries user.note before the old file's is given to it.
struct LabelledAtCreation : DiskOutputFile {
  int fault(Step step) override {
    if (step != Step::kWriteAttribute) return 0;
    // The scratch file is the one open descriptor in this folder that no name reaches.
    for (const auto& link : fs::directory_iterator("/proc/self/fd")) {
      std::error_code unreadable;
      const std::string target = fs::read_symlink(link.path(), unreadable).string();
      if (target.rfind(fs::current_path().string() + "/", 0) == 0 &&
          target.find("main.ani") == std::string::npos) {
        const int fd = std::stoi(link.path().filename().string());
        fsetxattr(fd, "user.note", "label", 5, 0);
      }
    }
    errno = ENOTRECOVERABLE;  // left over: the call made now must be judged by what it returns
    return 0;
  }
};

TEST(OutputFilePosixTest, AnAttributeTheNewFileGotAtItsCreationIsGivenTheOldValue) {
  ScopedTempDir dir;
  writeFile("main.ani", "old");
  if (setxattr("main.ani", "user.note", "kept", 4, 0) != 0)
    GTEST_SKIP() << "no user attributes on " << dir.path;
  LabelledAtCreation file;
  EXPECT_EQ(writeScript({"a.jpg"}, &file), "");
  EXPECT_FALSE(file.inPlace());
  char note[8] = {};
  EXPECT_EQ(getxattr("main.ani", "user.note", note, sizeof note), 4);
  EXPECT_STREQ(note, "kept");
}

TEST(OutputFilePosixTest, WhatCannotBeReadButIsNotThereIsNoReasonToStepDown) {
  // A file system without attributes, and a plain folder whose flags statx cannot read.
  const std::pair<Step, int> faults[] = {
      {Step::kListAttributes, ENOTSUP},
      {Step::kFolderFlags, ENOSYS},
  };
  for (const auto& [step, error] : faults) {
    ScopedTempDir dir;
    writeFile("main.ani", "old");
    FaultyFile file({{step, error}});
    EXPECT_EQ(writeScript({"a.jpg"}, &file), "") << static_cast<int>(step);
    EXPECT_FALSE(file.inPlace()) << static_cast<int>(step);
  }
}

TEST(OutputFilePosixTest, WithoutStatxAFolderOnAFileSystemWithoutFlagsIsReplacedWhole) {
  ScopedTempDir dir;
  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a FAT image through FUSE";
  if (std::system("exec >/dev/null 2>&1; mkfs.vfat -F 32 -C card 40000 && mkdir d && fusefat -o "
                  "rw+ card d"))
    GTEST_SKIP() << "mkfs.vfat or fusefat is not here, or FUSE cannot mount";
  fs::current_path("d");  // where asking for the folder's flags is answered ENOTTY
  writeFile("main.ani", "old");
  {
    FaultyFile file({{Step::kFolderFlags, ENOSYS}});
    EXPECT_EQ(writeScript({"a.jpg"}, &file), "");
    EXPECT_FALSE(file.inPlace());
  }
  fs::current_path("..");
  std::system("fusermount -u d");
}

TEST(OutputFilePosixTest, WithoutStatxAnAppendOnlyFolderIsStillRewrittenInPlace) {
  ScopedTempDir dir;
  writeFile("main.ani", "old");
  if (std::system("chattr +a . 2>/dev/null") != 0)
    GTEST_SKIP() << "no append-only folders here: needs root and a file system with the flag";
  FaultyFile appendOnly({{Step::kFolderFlags, ENOSYS}});
  EXPECT_EQ(writeScript({"a.jpg"}, &appendOnly), "");
  EXPECT_TRUE(appendOnly.inPlace());
  std::system("chattr -a .");
}

TEST(OutputFilePosixTest, ARewriteInPlaceGivenUpHalfWayIsPutBack) {
  ScopedTempDir dir;
  writeFile("main.ani", "old script");
  FaultyFile file({{Step::kCreate, EACCES}});
  std::string err;
  ASSERT_TRUE(file.open("main.ani", 100, &err)) << err;
  ASSERT_TRUE(file.write("new", 3, &err)) << err;
  file.discard();
  EXPECT_EQ(readFile("main.ani"), "old script");
  EXPECT_FALSE(file.damaged());
}

TEST(OutputFilePosixTest, AScriptOfTheLargestSizeKeptIsPutBack) {
  ScopedTempDir dir;
  const std::string old(DiskOutputFile::kKeptMax, 'o');
  writeFile("main.ani", old);
  FaultyFile file({{Step::kCreate, EACCES}, {Step::kWrite, EIO}});
  file.writesBeforeFault = 1;
  EXPECT_EQ(writeScript(manyNames(), &file, 4096), "cannot write main.ani: Input/output error");
  EXPECT_TRUE(readFile("main.ani") == old);
}

// Returns how many files this process has open, or 0 without /proc.
long openFiles() {
  std::error_code none;  // counts none without /proc
  return std::distance(fs::directory_iterator("/proc/self/fd", none), fs::directory_iterator());
}

TEST(OutputFilePosixTest, OnceClosedTheFileHoldsNothingOpenWhicheverWayItWent) {
  // Whole, in place, given up for in place once the scratch file was made, and copied in place:
  // the old script, the scratch file and the file in place are all closed before the object
  // goes.
  const std::map<Step, int> ways[] = {
      {},
      {{Step::kCreate, EACCES}},
      {{Step::kMode, ENOSYS}},
      {{Step::kRename, EXDEV}},
  };
  for (const auto& faults : ways) {
    ScopedTempDir dir;
    writeFile("main.ani", "old");
    const long before = openFiles();
    if (before == 0) GTEST_SKIP() << "no /proc/self/fd to count open files in";
    FaultyFile file(faults);
    std::string err;
    ASSERT_TRUE(file.open("main.ani", 9, &err)) << err;
    ASSERT_TRUE(file.write("new", 3, &err)) << err;
    ASSERT_TRUE(file.close(&err)) << err;
    EXPECT_EQ(openFiles(), before)
        << "open after the close: " << faults.size() << " faults, " << err;
  }
}

// Returns true when SIGTERM is held back in this thread (util/stops_posix_test.cpp).
bool termHeld();

TEST(OutputFilePosixTest, ARewriteInPlaceHoldsStopsNoLongerThanItsFile) {
  for (const bool fails : {false, true}) {
    ScopedTempDir dir;
    writeFile("main.ani", "old");
    {
      FaultyFile file({{Step::kCreate, EACCES}, {Step::kWrite, fails ? EIO : 0}});
      writeScript({"a.jpg"}, &file);
      EXPECT_FALSE(termHeld()) << "held after the close; the rewrite failed: " << fails;
    }
    EXPECT_FALSE(termHeld()) << "held after the file went; the rewrite failed: " << fails;
  }
}

TEST(OutputFilePosixTest, AFirstScriptWrittenInPlaceStaysOnceItsFileGoes) {
  ScopedTempDir dir;
  {
    FaultyFile file({{Step::kCreate, EACCES}});
    EXPECT_EQ(writeScript({"a.jpg"}, &file), "");
  }
  EXPECT_EQ(readFile("main.ani"), expectedScript({"a.jpg"}));
}

TEST(OutputFilePosixTest, AFailedWriteSaysWhy) {
  ScopedTempDir dir;
  FaultyFile file({{Step::kWrite, EPERM}});
  EXPECT_EQ(writeScript({"a.jpg"}, &file), "cannot write main.ani: Operation not permitted");
}

TEST(OutputFilePosixTest, AWholeWriteTakesEveryByteEvenALastOne) {
  ScopedTempDir dir;
  const int fd = open("one", O_WRONLY | O_CREAT, 0600);
  std::string err;
  EXPECT_TRUE(writeAll(fd, "x", 1, &err)) << err;
  close(fd);
  EXPECT_EQ(readFile("one"), "x");
}

// The script's file, whose copy in place fails as it reads the scratch file back a second time.
struct FailingCopy : FaultyFile {
  FailingCopy() : FaultyFile({{Step::kRename, EBUSY}}) {}
  int fault(Step step) override {
    if (step == Step::kReadScratch && ++reads == 2) return EIO;
    return FaultyFile::fault(step);
  }
  int reads = 0;
};

TEST(OutputFilePosixTest, ACopyInPlaceThatCannotReadItsScratchFilePutsTheOldScriptBack) {
  ScopedTempDir dir;
  writeFile("main.ani", "old");
  FailingCopy copy;
  EXPECT_EQ(writeScript(manyNames(), &copy), "cannot write main.ani: Input/output error");
  EXPECT_EQ(readFile("main.ani"), "old");
  EXPECT_EQ(entryCount(".mkani-"), 0);
}

TEST(OutputFilePosixTest, ACopyInPlaceThatCannotReadItsScratchFileKeepsItWhereItDamaged) {
  ScopedTempDir dir;
  writeFile("main.ani", std::string(DiskOutputFile::kKeptMax + 1, 'o'));
  FailingCopy copy;
  const std::string err = writeScript(manyNames(), &copy);
  EXPECT_TRUE(copy.damaged());
  EXPECT_EQ(readFile(err.substr(err.find(".mkani-"))), expectedScript(manyNames()));
}

TEST(OutputFilePosixTest, AFirstScriptCutShortInPlaceIsRemovedAndNotCalledDamaged) {
  ScopedTempDir dir;
  FaultyFile file({{Step::kCreate, EACCES}, {Step::kWrite, EIO}});
  file.writesBeforeFault = 1;
  EXPECT_EQ(writeScript(manyNames(), &file, 4096), "cannot write main.ani: Input/output error");
  EXPECT_FALSE(file.damaged());
  EXPECT_EQ(readFile("main.ani"), "<missing>");
}

TEST(OutputFilePosixTest, HoldingStopsHoldsThemAlone) {
  holdStops();
  sigset_t held;
  sigprocmask(SIG_BLOCK, nullptr, &held);
  releaseStops();
  EXPECT_EQ(sigismember(&held, SIGQUIT), 1);
  EXPECT_EQ(sigismember(&held, SIGUSR1), 0);
  EXPECT_EQ(sigismember(&held, SIGCHLD), 0);
}

// The script for manyNames() written through `file` in pieces of 4 KiB, not yet closed, with
// *blocked set to whether SIGTERM was held back once the last piece was given.
void writeUnclosed(ScriptWriter* script, bool* blocked) {
  std::string err;
  const std::vector<std::string> names = manyNames();
  size_t bytes = 0;
  for (const std::string& name : names) bytes += name.size();
  ASSERT_TRUE(script->open(names.size(), bytes, &err)) << err;
  for (size_t k = 0; k < names.size(); ++k) ASSERT_TRUE(script->writePicture(names[k], k, &err));
  ASSERT_TRUE(script->finish(names.size(), &err)) << err;
  sigset_t set;
  sigprocmask(SIG_BLOCK, nullptr, &set);
  *blocked = sigismember(&set, SIGTERM) == 1;
}

TEST(OutputFilePosixTest, ARewriteInPlaceTouchesTheOldScriptOnlyOnceEveryNameIsReady) {
  ScopedTempDir dir;
  writeFile("main.ani", "old");
  FaultyFile file({{Step::kCreate, EACCES}});
  ScriptWriter script(&file, 4096);
  bool blocked = true;
  writeUnclosed(&script, &blocked);
  EXPECT_EQ(readFile("main.ani"), "old");
  EXPECT_FALSE(blocked);  // a stop until then leaves the old script
  std::string err;
  EXPECT_TRUE(script.close(&err)) << err;
  EXPECT_EQ(readFile("main.ani"), expectedScript(manyNames()));
}

}  // namespace mkani
