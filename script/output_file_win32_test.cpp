// The script's file on Windows: which way it takes the place of the old one, and what it does
// when ReplaceFileW fails half-way.
#include <gtest/gtest.h>
#include <windows.h>

#include "script/output_file.h"
#include "test/test_util.h"
#include "util/platform.h"

namespace mkani {
namespace {

using Step = DiskOutputFile::Step;

// The script's file, whose renames fail: the first as ReplaceFileW does when it has removed the
// old file but cannot move the new one in (1176), the later ones with `later`.
struct HalfReplaced : DiskOutputFile {
  explicit HalfReplaced(int later) : later(later) {}
  int fault(Step step) override {
    if (step != Step::kRename || renames++ > 0) return step == Step::kRename ? later : 0;
    DeleteFileA("main.ani");
    return ERROR_UNABLE_TO_MOVE_REPLACEMENT;
  }
  int later, renames = 0;
};

TEST(OutputFileWin32Test, StepsDownToInPlaceOrMovesTheNewScriptInAndNeverLosesBoth) {
  ScopedTempDir dir;
  const std::vector<std::string> names = {"a.jpg", "b.jpg"};
  const std::string fresh = expectedScript(names);
  const struct {
    std::map<Step, int> faults;
    bool inPlace;
    std::string outcome;  // the failure: the old script is kept
  } cases[] = {
      {{{Step::kCreate, ERROR_ACCESS_DENIED}}, true, ""},
      {{{Step::kCreate, ERROR_DISK_FULL}}, true, ""},
      {{{Step::kCreate, ERROR_TOO_MANY_OPEN_FILES}},
       false,
       "cannot write main.ani: " + systemError(ERROR_TOO_MANY_OPEN_FILES)},
      // A scanner holding the new file: tried for a second, then in place.
      {{{Step::kRename, ERROR_SHARING_VIOLATION}}, true, ""},
      {{{Step::kWrite, ERROR_DISK_FULL}},
       false,
       "cannot write main.ani: " + systemError(ERROR_DISK_FULL)},
  };
  for (const auto& c : cases) {
    writeFile("main.ani", "old");
    FaultyFile file(c.faults);
    EXPECT_EQ(writeScript(names, &file), c.outcome);
    EXPECT_EQ(file.inPlace(), c.inPlace) << c.outcome;
    EXPECT_EQ(readFile("main.ani") + " " + std::to_string(entryCount(".mkani-")),
              (c.outcome.empty() ? fresh : "old") + " 0");
  }
  // ReplaceFileW failing half-way: the new script is moved in, or kept and named.
  for (const int later : {0, int{ERROR_ACCESS_DENIED}}) {
    writeFile("main.ani", "old");
    HalfReplaced file(later);
    const std::string err = writeScript(names, &file);
    const size_t kept = err.find(".mkani-");
    EXPECT_EQ(kept == std::string::npos, later == 0) << err;
    EXPECT_EQ(readFile(later == 0 ? "main.ani" : err.substr(kept)), fresh);
    EXPECT_EQ(entryCount(".mkani-"), later == 0 ? 0 : 1);
    if (later) std::remove(err.substr(kept).c_str());
  }
}

}  // namespace
}  // namespace mkani
