// The script's file on POSIX systems: which way it takes the place of the old one.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "script/output_file.h"
#include "test/test_util.h"
#include "util/platform.h"
#include "util/scratch_file.h"
#include "util/stops.h"

namespace mkani {

using Step = DiskOutputFile::Step;

TEST(OutputFilePosixTest, StepsDownToInPlaceWhereAWholeReplacementIsRefusedElseKeepsTheOld) {
  ScopedTempDir dir;
  const std::vector<std::string> names = {"a.jpg", "b.jpg"};
  const std::string fresh = expectedScript(names), old(400, 'o');  // longer than the new one
  const bool root = geteuid() == 0;
  const int lowest = dup(0);  // the lowest free descriptor, once closed
  close(lowest);
  // The way taken, then what the run ends in: the new script, else the old one and the reason.
  const std::pair<std::map<Step, int>, std::string> cases[] = {
      {{}, "whole"},
      {{{Step::kCreate, EACCES}}, "in place"},
      {{{Step::kCreate, ENOSPC}, {Step::kCut, EIO}}, "in place: Input/output error"},
      {{{Step::kCreate, EACCES}, {Step::kClose, EBADF}}, "in place: Bad file descriptor"},
      {{{Step::kCreate, EIO}}, "old: Input/output error"},
      {{{Step::kRename, EXDEV}, {Step::kReopen, EIO}}, "old: Input/output error"},
      {{{Step::kOwner, EINVAL}}, root ? "in place" : "whole"},  // only root gives owners
      {{{Step::kMode, ENOSYS}}, "in place"},
      {{{Step::kAccessList, EPERM}}, "in place"},   // removing an inherited list
      {{{Step::kAccessList, EACCES}}, "in place"},  // setting the old script's own
      {{{Step::kRename, EXDEV}, {Step::kRemove, EPERM}},
       "in place: the new script was written in place, but its scratch file .mkani-"},
      {{{Step::kWrite, EIO}}, "old: Input/output error"},
      {{{Step::kName, EEXIST}}, "old: File exists"},
      {{{Step::kClose, EIO}}, "old: Input/output error"},
      {{{Step::kCreate, EPERM}, {Step::kWrite, EIO}}, "old: Input/output error"},
  };
  for (const auto& [faults, outcome] : cases) {
    writeFile("main.ani", old);
    chmod("main.ani", 0640);
    if (root) chown("main.ani", 65534, 65534);
    if (faults.count(Step::kAccessList) && faults.at(Step::kAccessList) == EACCES)
      std::system("setfacl -m u:9:r main.ani");
    FaultyFile file(faults);
    const std::string err = writeScript(names, &file), now = readFile("main.ani");
    const std::string got = (now == old       ? "old"
                             : now != fresh   ? "cut"
                             : file.inPlace() ? "in place"
                                              : "whole") +
                            (err.empty() ? "" : ": " + err.substr(23));
    EXPECT_EQ(got.substr(0, outcome.find(".mkani-") == std::string::npos ? -1 : outcome.size()),
              outcome);
    // Whole, the new script or the old, with its mode and owner; a scratch file left is named.
    struct stat st;
    EXPECT_EQ(stat("main.ani", &st) + (st.st_mode & 07777) + st.st_uid + entryCount(".mkani-"),
              0640u + (root ? 65534 : geteuid()) + faults.count(Step::kRemove));
    std::system("rm -f .mkani-*");
  }
  // Nothing is left open: not the old script after a whole replacement, nor a store of runs, nor
  // a file given up unclosed. Stops held for a rewrite in place are released once, whatever the
  // end, by such a file too; holds nest.
  std::string err;
  DiskRunStore().create(&err), FaultyFile({{Step::kCreate, EACCES}}).open("main.ani", 9, &err);
  EXPECT_EQ(fcntl(lowest, F_GETFD), -1);
  sigset_t set;
  holdStops(), holdStops(), releaseStops(), sigprocmask(SIG_BLOCK, nullptr, &set);
  const int held = sigismember(&set, SIGTERM);
  releaseStops(), sigprocmask(SIG_BLOCK, nullptr, &set);
  EXPECT_EQ(std::to_string(held) + std::to_string(sigismember(&set, SIGTERM)), "10");
  // A script that was not there is made whole, or in place.
  for (const bool inPlace : {false, true}) {
    std::remove("main.ani");
    FaultyFile first({{inPlace ? Step::kCreate : Step::kRemove, EACCES}});
    const std::string err = writeScript(names, &first);
    EXPECT_EQ(err + readFile("main.ani") + std::to_string(first.inPlace()),
              fresh + std::to_string(inPlace));
  }
  // A copy in place cut short keeps the new script, named.
  FaultyFile cut({{Step::kRename, EBUSY}, {Step::kWrite, EIO}});
  cut.writesBeforeFault = 1;
  const std::string kept = writeScript(names, &cut);
  EXPECT_EQ(readFile(kept.substr(kept.find(".mkani-"))), fresh);
  // A write that reaches the file size limit takes what fits, then fails.
  signal(SIGXFSZ, SIG_IGN);  // as mkani has it
  struct rlimit was;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &was), 0);
  const struct rlimit limit = {150, was.rlim_max};
  const int fd = open("limited", O_WRONLY | O_CREAT, 0600);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  const bool fits = writeAll(fd, fresh.data(), 149, &err);
  const bool over = writeAll(fd, fresh.data() + 149, 10, &err);  // one byte goes
  setrlimit(RLIMIT_FSIZE, &was);
  EXPECT_EQ(std::to_string(fits) + std::to_string(over) + err + readFile("limited"),
            "10File too large" + fresh.substr(0, 150));
  // Where no file can be unnamed (FAT through FUSE), a temporary scratch file loses its name at
  // once.
  ScratchFile file;
  if (!std::system("exec >/dev/null 2>&1; mkfs.vfat -C f 256 && mkdir d && fusefat -o rw+ f d")) {
    fs::current_path("d");
    EXPECT_TRUE(createScratchFile(true, &file, &err) && file.name.empty()) << err;
    removeScratchFile(&file), fs::current_path(".."), std::system("fusermount -u d");
  }
  // A scratch file takes the first hidden name of the process that is free.
  const std::string prefix = ".mkani-" + std::to_string(getpid()) + "-";
  ASSERT_TRUE(createScratchFile(false, &file, &err));
  if (!file.name.empty()) GTEST_SKIP() << "no unnamed files here";
  for (int k = 0; k < 1000; ++k) writeFile(prefix + std::to_string(k) + ".tmp", "taken");
  EXPECT_FALSE(nameScratchFile(&file, &err));
  std::remove((prefix + "0.tmp").c_str());
  EXPECT_EQ(std::to_string(nameScratchFile(&file, &err)) + err + file.name,
            "1File exists" + prefix + "0.tmp");
  removeScratchOnStop();  // what a stop does
  const int removed = removeScratchFile(&file);
  // Renamed over main.ani, a scratch file's name is free again: a stop leaves whatever has it.
  FaultyFile whole;
  writeScript(names, &whole), writeFile(prefix + "0.tmp", "new"), removeScratchOnStop();
  EXPECT_EQ(std::to_string(removed) + readFile(prefix + "0.tmp") + readFile(prefix + "1.tmp"),
            std::to_string(ENOENT) + "newtaken");
}

}  // namespace mkani
