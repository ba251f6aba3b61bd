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

namespace mkani {
namespace {

using Step = DiskOutputFile::Step;

TEST(OutputFilePosixTest,
     StepsDownToInPlaceWhereTheWholeReplacementIsRefusedAndKeepsTheOldOnFailure) {
  ScopedTempDir dir;
  const std::vector<std::string> names = {"a.jpg", "b.jpg"};
  const std::string fresh = expectedScript(names), cannot = "cannot write main.ani: ";
  const bool root = geteuid() == 0;
  const struct {
    std::map<Step, int> faults;
    std::string way;              // "whole", "in place", or "" when the run fails before either
    std::string outcome, script;  // the failure, and what main.ani then holds ("" unchecked)
  } cases[] = {
      {{}, "whole", "", fresh},
      {{{Step::kCreate, EACCES}}, "in place", "", fresh},
      {{{Step::kCreate, ENOSPC}}, "in place", "", fresh},
      {{{Step::kCreate, EMFILE}}, "", cannot + "Too many open files", "old"},
      {{{Step::kOwner, EINVAL}}, root ? "in place" : "whole", "", fresh},  // only root gives owners
      {{{Step::kMode, ENOSYS}}, "in place", "", fresh},
      {{{Step::kAccessList, EPERM}}, "in place", "", fresh},
      {{{Step::kRename, EBUSY}}, "in place", "", fresh},
      {{{Step::kRename, EXDEV}, {Step::kRemove, EPERM}},
       "in place",
       cannot + "the new script was written in place, but its scratch file .mkani-",
       fresh},
      {{{Step::kWrite, EIO}}, "", cannot + "Input/output error", "old"},
      {{{Step::kClose, EIO}}, "", cannot + "Input/output error", "old"},
      {{{Step::kCreate, EPERM}, {Step::kWrite, EIO}},
       "in place",
       cannot + "Input/output error",
       ""},
  };
  for (const auto& c : cases) {
    writeFile("main.ani", "old");
    chmod("main.ani", 0640);
    if (root) chown("main.ani", 65534, 65534);
    FaultyFile file(c.faults);
    const std::string err = writeScript(names, &file);
    SCOPED_TRACE(c.way + " " + c.outcome);
    EXPECT_EQ(err.substr(0, c.outcome.size()), c.outcome);
    EXPECT_EQ(file.inPlace() ? "in place" : err.empty() ? "whole" : "", c.way);
    EXPECT_TRUE(c.script.empty() || readFile("main.ani") == c.script);
    struct stat st;
    EXPECT_EQ(stat("main.ani", &st) == 0 ? (st.st_mode & 07777) + st.st_uid : 0,
              0640u + (root ? 65534 : geteuid()));
    const size_t left = err.find(".mkani-");  // named as left behind
    EXPECT_EQ(entryCount(".mkani-"), left != std::string::npos);
    if (left != std::string::npos)
      std::remove(err.substr(left, err.find(' ', left) - left).c_str());
  }
  // Past the file size limit, nothing is written, in place or whole; a write that reaches it
  // takes what fits, then fails.
  struct rlimit was, limit;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &was), 0);
  limit = was;
  limit.rlim_cur = fresh.size() - 1;
  for (const Step at : {Step::kCreate, Step::kRename}) {
    writeFile("main.ani", "old");
    FaultyFile file({{at, EPERM}});
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const std::string err = writeScript(names, &file);
    setrlimit(RLIMIT_FSIZE, &was);
    EXPECT_EQ(err, cannot + "File too large");
    EXPECT_EQ(readFile("main.ani") + std::to_string(entryCount(".mkani-")), "old0");
  }
  signal(SIGXFSZ, SIG_IGN);  // as mkani has it
  const int fd = open("limited", O_WRONLY | O_CREAT, 0600);
  std::string err;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  const bool fits = writeAll(fd, fresh.data(), 100, &err);
  const bool over = writeAll(fd, fresh.data(), fresh.size(), &err);
  setrlimit(RLIMIT_FSIZE, &was);
  close(fd);
  EXPECT_EQ(std::to_string(fits) + std::to_string(over) + err + readFile("limited"),
            "10File too large" + fresh.substr(0, 100) + fresh.substr(0, fresh.size() - 101));
}

}  // namespace
}  // namespace mkani
