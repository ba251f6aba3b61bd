// The script's file on POSIX systems: which way it takes the place of the old one, and what it
// leaves when a step fails.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <memory>
#include <optional>
#include <regex>
#include <thread>

#include "test/test_util.h"
#include "util/stops.h"

namespace mkani {

using Step = DiskOutputFile::Step;

// Returns true when `signal` is held back in this thread (util/stops_posix_test.cpp).
bool signalHeld(int signal);

// Names for a script past the 64 KiB that a copy in place moves at a time.
std::vector<std::string> manyNames() {
  std::vector<std::string> names;
  for (int k = 0; k < 3000; ++k) names.push_back("frame-" + std::to_string(10000 + k) + ".jpg");
  return names;
}

// The name that this run's first scratch file takes with the ending of the old script's copy.
std::string copyName() {
  return ".mkani-" + std::to_string(getpid()) + "-0.old";
}

// What a rename that moves the old file away first may have done to it when it fails: left a
// copy of it beside the scratch file, removed it, or moved it to the copy's name.
enum class Renamed { kNothing, kCopied, kRemoved, kMoved };

// The script's file failing where a case says. A fault at a write, or at a read of the scratch
// file, comes after `before` such calls went through.
struct CaseFile : FaultyFile {
  CaseFile(std::map<Step, int> faults, size_t before, Renamed renamed)
      : FaultyFile(std::move(faults)), renamed(renamed) {
    writesBeforeFault = before;
  }
  int fault(Step step) override {
    if (step == Step::kReadScratch && reads++ < writesBeforeFault) return 0;
    if (step == Step::kRename && renamed == Renamed::kCopied)
      writeFile(copyName(), readFile("main.ani"));
    if (step == Step::kRename && renamed == Renamed::kRemoved) std::remove("main.ani");
    if (step == Step::kRename && renamed == Renamed::kMoved)
      std::rename("main.ani", copyName().c_str());
    return FaultyFile::fault(step);
  }
  Renamed renamed;
  size_t reads = 0;
};

TEST(OutputFilePosixTest, EachFaultEndsWithTheNewScriptTheOldOneOrNoneAndSaysWhatItLeft) {
  const size_t most = DiskOutputFile::kKeptMax;
  const bool root = geteuid() == 0;
  const std::string io = "Input/output error";
  const std::string eperm = "Operation not permitted";
  const std::string kept = "; the new script is kept in .mkani-*.tmp";
  const std::string bothKept = " and the old one in .mkani-*.old";
  const std::string damaged = io + "; main.ani is damaged" + kept;
  const std::string closed = "closing it failed after the new script was written whole: " + eperm;
  const std::string scratchLeft =
      "the new script was written in place, but its scratch file .mkani-*.tmp cannot be "
      "removed: " +
      eperm;
  const std::string copyLeft =
      "the new script is in place, but the old one's copy .mkani-*.old cannot be removed: " + eperm;
  struct Case {
    std::map<Step, int> faults;
    size_t old;          // the old script's size; 0: there is none
    std::string way;     // what main.ani holds at the end: the new script written "whole" or "in
                         // place", the "old" script, "none" or a "damaged" one
    std::string reason;  // why main.ani cannot be written, the run's numbers in names masked
    size_t before = 0;
    Renamed renamed = Renamed::kNothing;
  };
  const Case cases[] = {
      {{}, 400, "whole", ""},
      {{{Step::kCreate, EACCES}}, 400, "in place", ""},
      {{{Step::kCreate, ENOSPC}, {Step::kCut, EIO}}, 400, "old", io},  // put back, and cut
      {{{Step::kCreate, EACCES}, {Step::kClose, EPERM}}, 400, "in place", closed},
      {{{Step::kCreate, EIO}}, 400, "old", io},
      {{{Step::kRename, EXDEV}, {Step::kReopen, EPERM}}, 400, "old", eperm},
      {{{Step::kOwner, EINVAL}}, 400, root ? "in place" : "whole", ""},  // only root gives owners
      {{{Step::kMode, ENOSYS}}, 300000, "in place", ""},     // longer than the new script: cut
      {{{Step::kAccessList, EPERM}}, 400, "in place", ""},   // removing an inherited list
      {{{Step::kAccessList, EACCES}}, 400, "in place", ""},  // setting the old script's own
      {{{Step::kRename, EXDEV}, {Step::kRemove, EPERM}}, 400, "in place", scratchLeft},
      {{{Step::kWrite, EIO}}, 400, "old", io},
      {{{Step::kName, EEXIST}}, 400, "old", "File exists"},
      {{{Step::kClose, EIO}}, 400, "old", io},
      {{{Step::kCreate, EPERM}, {Step::kWrite, EIO}}, 400, "old", io},
      // What cannot be read but is not there: attributes, a plain folder's flags without statx.
      {{{Step::kListAttributes, ENOTSUP}}, 400, "whole", ""},
      {{{Step::kFolderFlags, ENOSYS}}, 400, "whole", ""},
      // A first script.
      {{}, 0, "whole", ""},
      {{{Step::kCreate, EACCES}}, 0, "in place", ""},
      {{{Step::kCreate, EACCES}, {Step::kRoom, ENOSPC}}, 0, "none", "No space left on device"},
      {{{Step::kCreate, EACCES}, {Step::kWrite, EIO}}, 0, "none", io, 1},
      {{{Step::kWrite, EPERM}}, 0, "none", eperm},
      // Cut short in place, or while the scratch file is copied in place: put back up to the
      // largest size kept, else damaged with the new script kept.
      {{{Step::kCreate, EACCES}, {Step::kWrite, EIO}}, 300000, "old", io, 1},
      {{{Step::kCreate, EACCES}, {Step::kWrite, EIO}}, most, "old", io, 1},
      {{{Step::kRename, EBUSY}, {Step::kWrite, EIO}}, 3, "old", io, 1},  // before its first byte
      {{{Step::kRename, EBUSY}, {Step::kWrite, EIO}}, most + 1, "damaged", damaged, 2},
      {{{Step::kRename, EBUSY}, {Step::kReadScratch, EPERM}}, 3, "old", eperm, 1},
      {{{Step::kRename, EBUSY}, {Step::kReadScratch, EIO}}, most + 1, "damaged", damaged, 1},
      // A rename that moves the old file away first, over an earlier run's copy of this name.
      {{}, 3, "whole", "", 0, Renamed::kCopied},
      {{{Step::kRemove, EPERM}}, 3, "whole", copyLeft, 0, Renamed::kCopied},
      {{{Step::kRename, EIO}}, 3, "none", io + kept, 0, Renamed::kRemoved},
      {{{Step::kRename, EIO}}, 3, "none", io + kept + bothKept, 0, Renamed::kMoved},
  };
  const std::vector<std::string> names = manyNames();
  const std::string fresh = expectedScript(names);
  const std::regex scratch("\\.mkani-[0-9]+-[0-9]+\\.(tmp|old)");
  for (const Case& c : cases) {
    ScopedTempDir dir;
    const std::string old(c.old, 'o');
    SCOPED_TRACE(c.way + " over " + std::to_string(c.old) + " bytes, " + c.reason);
    if (c.old > 0) {
      writeFile("main.ani", old);
      chmod("main.ani", 0640);
      if (root) chown("main.ani", 65534, 65534);
    }
    const auto list = c.faults.find(Step::kAccessList);
    if (list != c.faults.end() && list->second == EACCES) std::system("setfacl -m u:9:r main.ani");
    if (c.renamed != Renamed::kNothing) writeFile(copyName(), "an earlier run's");
    const long open = openFiles();
    auto file = std::make_unique<CaseFile>(c.faults, c.before, c.renamed);
    errno = EWOULDBLOCK;  // left by an earlier call: no lease to wait for
    const std::string err = writeScript(names, file.get());
    EXPECT_EQ(openFiles(), open) << "left open";
    EXPECT_FALSE(signalHeld(SIGTERM));
    const bool inPlace = file->inPlace();
    EXPECT_EQ(file->damaged(), c.way == "damaged");
    file.reset();
    const std::string now = readFile("main.ani");
    std::string way = inPlace ? "in place" : "whole";
    if (now != fresh) way = now == old ? "old" : "damaged";
    if (now == "<missing>") way = "none";
    EXPECT_EQ(way, c.way);
    const std::string masked = std::regex_replace(err, std::regex("-[0-9]+-[0-9]+\\."), "-*.");
    EXPECT_EQ(masked, c.reason.empty() ? "" : "cannot write main.ani: " + c.reason);
    // Each scratch file that the error names is left, holding the new script; a copy, the old.
    long named = 0;
    for (std::sregex_iterator at(err.begin(), err.end(), scratch), end; at != end; ++at) {
      EXPECT_EQ(readFile(at->str()), (*at)[1] == "tmp" ? fresh : old) << at->str();
      ++named;
    }
    EXPECT_EQ(entryCount(".mkani-"), named);
    if (c.old == 0 || way == "none") continue;  // no old script whose mode and owner stay
    struct stat st;
    ASSERT_EQ(stat("main.ani", &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_uid, root ? 65534 : geteuid());
  }
}

TEST(OutputFilePosixTest, ARewriteInPlaceGivenUpHalfWayIsPutBackIfReadableAndAFirstOneRemoved) {
  const std::string fresh(100, 'n');  // past the room made, which is written at once
  // The old script and its mode, and what main.ani holds once its file goes unclosed.
  const std::tuple<std::string, int, std::string> cases[] = {
      {"old script", 0600, "old script"},
      {"old script", 0200, geteuid() == 0 ? "old script" : fresh},  // written alone: damaged
      {"<missing>", 0, "<missing>"},
  };
  for (const auto& [old, mode, left] : cases) {
    ScopedTempDir dir;
    if (old != "<missing>") writeFile("main.ani", old);
    chmod("main.ani", mode);
    const long open = openFiles();
    {
      FaultyFile file({{Step::kCreate, EACCES}});
      std::string err;
      errno = EACCES;  // left by an earlier call: the script may be read
      ASSERT_TRUE(file.open("main.ani", 60, &err)) << err;
      ASSERT_TRUE(file.write(fresh.data(), 50, &err)) << err;  // held back, in the room made
      ASSERT_TRUE(file.write(fresh.data() + 50, 50, &err)) << err;
      EXPECT_EQ(fs::file_size("main.ani"), fresh.size()) << "not written at once";
    }
    EXPECT_EQ(openFiles(), open) << mode;
    chmod("main.ani", 0600);
    EXPECT_EQ(readFile("main.ani"), left) << mode;
  }
}

TEST(OutputFilePosixTest, AScriptOfTheLargestSizeHeldInMemoryTouchesTheOldOneOnlyAtItsClose) {
  const uint64_t most = DiskOutputFile::kReadyMax;
  for (const uint64_t size : {most, most + 1}) {
    ScopedTempDir dir;
    writeFile("main.ani", "old");
    FaultyFile file({{Step::kCreate, EACCES}});
    std::string err;
    if (!file.open("main.ani", size, &err)) GTEST_SKIP() << "no room for the script: " << err;
    ASSERT_TRUE(file.write("new", 3, &err)) << err;
    EXPECT_EQ(readFile("main.ani"), size == most ? "old" : "new") << size;
  }
}

TEST(OutputFilePosixTest, AFailedOpenLeavesNothingMadeOrOpenEvenBeforeItsFileGoes) {
  // A first script that finds no room in place, and a pipe standing where the script goes.
  for (const bool pipe : {false, true}) {
    ScopedTempDir dir;
    if (pipe) {
      ASSERT_EQ(mkfifo("main.ani", 0600), 0);
    }
    const long open = openFiles();
    FaultyFile file({{Step::kCreate, EACCES}, {Step::kRoom, ENOSPC}});
    std::string err;
    EXPECT_FALSE(file.open("main.ani", 100, &err));
    EXPECT_EQ(fs::exists("main.ani"), pipe);
    EXPECT_EQ(openFiles(), open) << "left open; a pipe there: " << pipe;
  }
}

TEST(OutputFilePosixTest, DescriptorZeroServesAsAnyOtherAndIsGivenBack) {
  // Standard input closed as the run starts (at no step) or at a step: descriptor 0 goes to the
  // old script, to the folder whose flags are read without statx, or to the scratch file
  // reopened to be copied in place, and is closed by the end.
  const struct {
    bool old;
    std::map<Step, int> faults;
    std::optional<Step> closing;
  } cases[] = {
      {true, {}, std::nullopt},
      {false, {{Step::kFolderFlags, ENOSYS}}, std::nullopt},
      {true, {{Step::kRename, EXDEV}}, Step::kReopen},
  };
  const int input = dup(STDIN_FILENO);
  for (const auto& c : cases) {
    ScopedTempDir dir;
    if (c.old) writeFile("main.ani", "old");
    std::string err;
    {
      FaultyFile file(c.faults);
      file.before = [&c](Step step) {
        if (step == c.closing) close(STDIN_FILENO);
      };
      if (!c.closing) close(STDIN_FILENO);
      err = writeScript({"a.jpg"}, &file);
    }
    const bool closed = fcntl(STDIN_FILENO, F_GETFD) == -1;
    dup2(input, STDIN_FILENO);
    EXPECT_EQ(err, "");
    EXPECT_TRUE(closed) << "descriptor 0 was left open";
    EXPECT_EQ(readFile("main.ani"), expectedScript({"a.jpg"}));
  }
  close(input);
}

TEST(RunStorePosixTest, LeavesNothingOpenOnceItGoes) {
  ScopedTempDir dir;
  const long open = openFiles();
  {
    DiskRunStore runs;
    std::string err;
    ASSERT_TRUE(runs.create(&err)) << err;
  }
  EXPECT_EQ(openFiles(), open);
}

TEST(OutputFilePosixTest, AFirstScriptIsBegunInPlaceOnlyWhereTheFolderHasRoomForItToTheByte) {
  ScopedTempDir dir;
  fs::create_directory("d");
  if (std::system("mount -t tmpfs -o size=64k t d 2>/dev/null") != 0)
    GTEST_SKIP() << "needs root to mount a small file system";
  fs::current_path("d");
  struct statvfs st;
  ASSERT_EQ(statvfs(".", &st), 0);
  const uint64_t room = uint64_t{st.f_bavail} * st.f_frsize;
  // One byte past the room, it is refused before it is made; within it, the room is asked for.
  const std::pair<uint64_t, std::string> cases[] = {
      {room + 1, "No space left on device"},
      {room, "Input/output error"},
  };
  for (const auto& [size, reason] : cases) {
    FaultyFile file({{Step::kCreate, EACCES}, {Step::kRoom, EIO}});
    std::string err;
    EXPECT_FALSE(file.open("main.ani", size, &err));
    EXPECT_EQ(err, reason) << size;
  }
  fs::current_path("..");
  std::system("umount d");
}

TEST(OutputFilePosixTest, AFirstScriptPastTheFileSizeLimitIsNeverMadeAndOneThatFailsIsRemoved) {
  signal(SIGXFSZ, SIG_IGN);  // as mkani has it
  struct rlimit was;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &was), 0);
  const std::string fresh = expectedScript({"a.jpg"});
  // The file size limit, whether making room fails once another program has put its own
  // main.ani there, why main.ani cannot be written and what it holds then.
  const std::tuple<rlim_t, bool, std::string, std::string> cases[] = {
      {fresh.size() - 1, false, "cannot write main.ani: File too large", "<missing>"},
      {fresh.size(), false, "", fresh},
      {was.rlim_cur, true, "cannot write main.ani: No space left on device", "theirs"},
  };
  for (const auto& [limit, replaced, reason, left] : cases) {
    ScopedTempDir dir;
    const struct timespec never[2] = {{0, 0}, {0, 0}};
    utimensat(AT_FDCWD, ".", never, 0);  // so that any entry made or removed shows
    FaultyFile file({{Step::kCreate, EACCES}, {Step::kRoom, replaced ? ENOSPC : 0}});
    file.before = [replaced = replaced](Step step) {
      if (step != Step::kRoom || !replaced) return;
      std::remove("main.ani");
      writeFile("main.ani", "theirs");
    };
    const struct rlimit limited = {limit, was.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const std::string err = writeScript({"a.jpg"}, &file);
    setrlimit(RLIMIT_FSIZE, &was);
    EXPECT_EQ(err, reason);
    EXPECT_EQ(readFile("main.ani"), left);
    struct stat folder;
    ASSERT_EQ(stat(".", &folder), 0);
    EXPECT_EQ(folder.st_mtime == 0, left == "<missing>") << "a file made, or none";
  }
}

TEST(OutputFilePosixTest, ARewriteInPlaceWaitsForAnotherRunHoldingTheScriptAloneAndSaysSo) {
  // Held by another run, which ends a moment after the notice; free; on a file system that keeps
  // no locks.
  const std::pair<bool, int> cases[] = {{true, 0}, {false, 0}, {false, ENOLCK}};
  for (const auto& [held, lockError] : cases) {
    ScopedTempDir dir;
    writeFile("main.ani", "old");
    const int other = open("main.ani", O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(other, LOCK_EX), 0);
    if (!held) close(other);
    std::string said;
    std::atomic<bool> ended{false};
    std::thread otherRun;
    FaultyFile file({{Step::kCreate, EACCES}, {Step::kLock, lockError}},
                    [&](const std::string& line) {
                      said = line;
                      otherRun = std::thread([&] {
                        std::this_thread::sleep_for(std::chrono::milliseconds(200));
                        ended = true;
                        close(other);
                      });
                    });
    EXPECT_EQ(writeScript({"a.jpg"}, &file), "") << lockError;
    EXPECT_EQ(ended.load(), held) << "waited for the other run";
    if (otherRun.joinable()) otherRun.join();
    EXPECT_EQ(said, held ? "waiting for another run to finish writing main.ani" : "");
    EXPECT_EQ(readFile("main.ani"), expectedScript({"a.jpg"})) << lockError;
  }
}

// Labels the new file as a security module (SELinux, Smack) labels one at its creation: it
// carries user.note before the old file's is given to it.
void labelTheNewFile(Step step) {
  if (step != Step::kListAttributes) return;
  // The scratch file is the one open descriptor in this folder that no name reaches.
  for (const auto& link : fs::directory_iterator("/proc/self/fd")) {
    std::error_code unreadable;
    const fs::path target = fs::read_symlink(link.path(), unreadable);
    if (target.parent_path() == fs::current_path() && target.filename() != "main.ani")
      fsetxattr(std::stoi(link.path().filename().string()), "user.note", "label", 5, 0);
  }
}

TEST(OutputFilePosixTest, WhatTheOldScriptsAttributesHoldStaysOrTheRewriteGoesInPlace) {
  // A user's attribute refused for want of room or of permission: only a security label may be
  // left to the folder.
  const std::pair<Step, int> faults[] = {
      {Step::kListAttributes, 0},  // carried whole, over the new file's label
      {Step::kListAttributes, ENOSPC}, {Step::kReadAttribute, ENOSPC},
      {Step::kWriteAttribute, ENOSPC}, {Step::kWriteAttribute, EPERM},
  };
  for (const auto& [step, error] : faults) {
    ScopedTempDir dir;
    writeFile("main.ani", "old");
    if (setxattr("main.ani", "user.note", "kept", 4, 0) != 0 ||
        setxattr("main.ani", "user.empty", "", 0, 0) != 0)
      GTEST_SKIP() << "no user attributes on " << dir.path;
    FaultyFile file({{step, error}});
    file.before = labelTheNewFile;
    EXPECT_EQ(writeScript({"a.jpg"}, &file), "");
    EXPECT_EQ(file.inPlace(), error != 0) << static_cast<int>(step) << ", " << error;
    char note[8] = {};
    EXPECT_EQ(getxattr("main.ani", "user.note", note, sizeof note), 4);
    EXPECT_STREQ(note, "kept");
    EXPECT_EQ(getxattr("main.ani", "user.empty", note, sizeof note), 0);
  }
}

TEST(OutputFilePosixTest, OnAFatCardAScriptIsReplacedWholeAndATemporaryScratchFileGoesAtOnce) {
  ScopedTempDir dir;
  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a FAT image through FUSE";
  if (std::system("exec >/dev/null 2>&1; mkfs.vfat -F 32 -C card 40000 && mkdir d && fusefat -o "
                  "rw+ card d"))
    GTEST_SKIP() << "mkfs.vfat or fusefat is not here, or FUSE cannot mount";
  fs::current_path("d");  // where no file is unnamed, and asking for the folder's flags is ENOTTY
  writeFile("main.ani", "old");
  {
    FaultyFile file({{Step::kFolderFlags, ENOSYS}});  // no statx
    EXPECT_EQ(writeScript({"a.jpg"}, &file), "");
    EXPECT_FALSE(file.inPlace());
    std::string err;
    ScratchFile temporary;
    EXPECT_TRUE(createScratchFile(true, &temporary, &err)) << err;
    EXPECT_EQ(temporary.name, "");
    EXPECT_NE(fcntl(static_cast<int>(temporary.handle), F_GETFD), -1) << "it is not open";
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

TEST(OutputFilePosixTest, AFirstScriptInAnImmutableFolderIsRefusedWithTheReason) {
  ScopedTempDir dir;
  if (std::system("chattr +i . 2>/dev/null") != 0)
    GTEST_SKIP() << "no immutable folders here: needs root and a file system with the flag";
  FaultyFile file;
  const std::string err = writeScript({"a.jpg"}, &file);
  std::system("chattr -i .");
  EXPECT_EQ(err, "cannot write main.ani: Operation not permitted");
}

TEST(OutputFilePosixTest, AFolderWhoseFlagsCannotBeReadAtAllIsRewrittenInPlace) {
#if defined(MKANI_SANITIZE)
  GTEST_SKIP() << "the sanitizers' runtime needs more descriptors than this";
#endif
  ScopedTempDir dir;
  writeFile("main.ani", "old");
  FaultyFile file({{Step::kFolderFlags, ENOSYS}});  // statx refused, as in some containers
  // Once the old script is open no descriptor is left for the folder, whose flags go unread.
  const int lowest = open(".", O_RDONLY);
  close(lowest);
  struct rlimit was;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &was), 0);
  const struct rlimit one = {static_cast<rlim_t>(lowest) + 1, was.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &one), 0);
  const std::string err = writeScript({"a.jpg"}, &file);
  setrlimit(RLIMIT_NOFILE, &was);
  EXPECT_EQ(err, "");
  EXPECT_TRUE(file.inPlace());
  EXPECT_EQ(readFile("main.ani"), expectedScript({"a.jpg"}));
}

TEST(OutputFilePosixTest, TheOldScriptIsTouchedAndStopsHeldOnlyOnceEveryNameIsReady) {
  for (const bool inPlace : {true, false}) {
    SCOPED_TRACE(inPlace ? "in place" : "whole");
    ScopedTempDir dir;
    writeFile("main.ani", "old");
    FaultyFile file({{Step::kCreate, inPlace ? EACCES : 0}});
    ScriptWriter script(&file, 4096);
    const std::vector<std::string> names = manyNames();
    std::string err;
    ASSERT_TRUE(script.open(names.size(), names.size() * names[0].size(), &err)) << err;
    for (size_t k = 0; k < names.size(); ++k) ASSERT_TRUE(script.writePicture(names[k], k, &err));
    ASSERT_TRUE(script.finish(names.size(), &err)) << err;
    EXPECT_EQ(readFile("main.ani"), "old");
    EXPECT_FALSE(signalHeld(SIGTERM));  // a stop until then leaves the old script
    EXPECT_TRUE(script.close(&err)) << err;
    EXPECT_EQ(readFile("main.ani"), expectedScript(names));
  }
  // What the rewrites held they gave back once: a hold now holds.
  holdStops();
  EXPECT_TRUE(signalHeld(SIGTERM));
  releaseStops();
}

}  // namespace mkani
