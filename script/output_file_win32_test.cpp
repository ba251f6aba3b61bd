// The script's file on Windows: which way it takes the place of the old one, and what it does
// when ReplaceFileW fails half-way.
#include <gtest/gtest.h>
#include <windows.h>

#include "script/output_file.h"
#include "test/test_util.h"
#include "util/platform.h"

namespace mkani {

// The script's file, whose renames fail: the first as ReplaceFileW does when it has removed the
// old file but cannot move the new one in (1176), the later ones with `later`.
struct HalfReplaced : DiskOutputFile {
  int fault(Step step) override {
    if (step != Step::kRename || renames++ > 0) return step == Step::kRename ? later : 0;
    DeleteFileA("main.ani");
    return ERROR_UNABLE_TO_MOVE_REPLACEMENT;
  }
  int later = 0, renames = 0;
};

TEST(OutputFileWin32Test, WhenReplaceFileWFailsHalfWayMovesTheNewScriptInOrKeepsIt) {
  ScopedTempDir dir;
  const std::string fresh = expectedScript({"a.jpg"});
  // The new script is moved in, or kept and named: never are both scripts lost.
  for (const int later : {0, int{ERROR_ACCESS_DENIED}}) {
    writeFile("main.ani", "old");
    HalfReplaced file;
    file.later = later;
    const std::string err = writeScript({"a.jpg"}, &file);
    EXPECT_EQ(readFile(later == 0 ? "main.ani" : err.substr(err.find(".mkani-"))) +
                  std::to_string(entryCount()),
              fresh + "1");
  }
}

}  // namespace mkani
