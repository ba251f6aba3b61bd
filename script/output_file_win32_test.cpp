// The script's file on Windows: which way it takes the place of the old one, and what it does
// when ReplaceFileW fails half-way.
#include <gtest/gtest.h>
#include <windows.h>

#include <thread>

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

using Step = DiskOutputFile::Step;

TEST(OutputFileWin32Test, OnlyLinksAndJunctionsStandForAnotherFile) {
  // A reparse tag, and whether a script is refused for it.
  const std::pair<unsigned long, bool> tags[] = {
      {0xA000000C, true},   // IO_REPARSE_TAG_SYMLINK
      {0xA0000003, true},   // IO_REPARSE_TAG_MOUNT_POINT, a junction
      {0x9000001A, false},  // IO_REPARSE_TAG_CLOUD_6, a OneDrive placeholder
      {0x80000013, false},  // IO_REPARSE_TAG_DEDUP
      {0x80000017, false},  // IO_REPARSE_TAG_WOF, a compressed file
  };
  for (const auto& [tag, refused] : tags) EXPECT_EQ(namesAnotherFile(tag), refused) << tag;
}

TEST(OutputFileWin32Test, AScriptOneDriveSyncedIsReplacedAndALinkIsRefused) {
  ScopedTempDir dir;
  writeFile("main.ani", "old");
  FaultyFile synced({{Step::kReparseTag, 0x9000001A}});
  EXPECT_EQ(writeScript({"a.jpg"}, &synced), "");
  EXPECT_EQ(readFile("main.ani"), expectedScript({"a.jpg"}));
  FaultyFile linked({{Step::kReparseTag, 0xA000000C}});
  EXPECT_EQ(writeScript({"b.jpg"}, &linked), "cannot write main.ani: it is a symbolic link");
  EXPECT_EQ(readFile("main.ani"), expectedScript({"a.jpg"}));
}

TEST(OutputFileWin32Test, AScriptThatMayBeWrittenButNotDeletedIsRewrittenInPlace) {
  ScopedTempDir dir;
  writeFile("main.ani", "old");
  FaultyFile file({{Step::kOpenOld, ERROR_ACCESS_DENIED}});
  EXPECT_EQ(writeScript({"a.jpg"}, &file), "");
  EXPECT_TRUE(file.inPlace());
  EXPECT_EQ(readFile("main.ani"), expectedScript({"a.jpg"}));
}

TEST(OutputFileWin32Test, AScriptHeldForAMomentIsStillReplacedWhole) {
  ScopedTempDir dir;
  writeFile("main.ani", "old");
  struct Held : FaultyFile {
    int fault(Step step) override {
      if (step == Step::kOpenOld && opens++ < 3) return ERROR_SHARING_VIOLATION;
      return FaultyFile::fault(step);
    }
    int opens = 0;
  } file;
  EXPECT_EQ(writeScript({"a.jpg"}, &file), "");
  EXPECT_FALSE(file.inPlace());
  EXPECT_EQ(readFile("main.ani"), expectedScript({"a.jpg"}));
}

TEST(OutputFileWin32Test, AScratchFileAScannerHoldsAfterACopyInPlaceIsRemovedOnceLetGo) {
  ScopedTempDir dir;
  writeFile("main.ani", "old");
  std::thread scanner;
  struct Scanned : FaultyFile {
    using FaultyFile::FaultyFile;
    int fault(Step step) override {
      if (step == Step::kRemove) {
        // A scanner opens the scratch file, without letting it be deleted, for a moment.
        WIN32_FIND_DATAA found;
        FindClose(FindFirstFileA(".mkani-*", &found));
        const HANDLE held =
            CreateFileA(found.cFileName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, 0, nullptr);
        *scanner = std::thread([held] {
          Sleep(200);
          CloseHandle(held);
        });
      }
      return FaultyFile::fault(step);
    }
    std::thread* scanner;
  } file({{Step::kRename, ERROR_NOT_SAME_DEVICE}});
  file.scanner = &scanner;
  EXPECT_EQ(writeScript({"a.jpg"}, &file), "");
  scanner.join();
  EXPECT_EQ(readFile("main.ani"), expectedScript({"a.jpg"}));
  EXPECT_EQ(entryCount(".mkani-"), 0);
}

TEST(OutputFileWin32Test, ASecondRewriteInPlaceWaitsForTheFirstAndSaysSo) {
  ScopedTempDir dir;
  writeFile("main.ani", "old");
  FaultyFile first({{Step::kCreate, ERROR_ACCESS_DENIED}});
  std::string err;
  ASSERT_TRUE(first.open("main.ani", 100, &err)) << err;
  std::string said;
  FaultyFile second({{Step::kCreate, ERROR_ACCESS_DENIED}}, [&](const std::string& line) {
    said = line;
    first.close(&err);  // the first run ends
  });
  EXPECT_EQ(writeScript({"a.jpg"}, &second), "");
  EXPECT_EQ(said, "waiting for another run to finish writing main.ani");
  EXPECT_EQ(readFile("main.ani"), expectedScript({"a.jpg"}));
}

TEST(OutputFileWin32Test, AFirstScriptThatCannotBeMadeRoomForIsRemoved) {
  ScopedTempDir dir;
  FaultyFile file({{Step::kCreate, ERROR_ACCESS_DENIED}, {Step::kRoom, ERROR_DISK_FULL}});
  EXPECT_NE(writeScript({"a.jpg"}, &file), "");
  EXPECT_EQ(readFile("main.ani"), "<missing>");
}

}  // namespace mkani
