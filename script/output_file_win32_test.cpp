// The script's file on Windows: which way it takes the place of the old one, and what it does
// when ReplaceFileW fails half-way.
#include <gtest/gtest.h>
#include <windows.h>

#include <thread>
#include <tuple>

#include "script/output_file.h"
#include "test/test_util.h"
#include "util/platform.h"
#include "util/scratch_file.h"
#include "util/stops.h"

namespace mkani {

using Step = DiskOutputFile::Step;

// Returns the name after `marker` in the message `err`, up to the next space or its end.
std::string nameAfter(const std::string& err, const std::string& marker) {
  const size_t at = err.find(marker);
  if (at == std::string::npos) return "<none>";
  const size_t from = at + marker.size();
  return err.substr(from, err.find(' ', from) - from);
}

// The script's file, whose first rename fails half-way as ReplaceFileW's can: having removed the
// old file (1176, no copy asked for) or moved it to the copy's name (1177). The later renames
// fail with `later`.
struct HalfReplaced : DiskOutputFile {
  int fault(Step step) override {
    if (step != Step::kRename) return 0;
    if (renames++ > 0) return later;
    if (first == ERROR_UNABLE_TO_MOVE_REPLACEMENT) {
      DeleteFileA("main.ani");
    } else {
      WIN32_FIND_DATAA found;
      FindClose(FindFirstFileA(".mkani-*.tmp", &found));
      const std::string scratch = found.cFileName;
      MoveFileA("main.ani", (scratch.substr(0, scratch.rfind('.')) + ".old").c_str());
    }
    return static_cast<int>(first);
  }
  DWORD first = 0;
  int later = 0, renames = 0;
};

TEST(OutputFileWin32Test, WhenReplaceFileWFailsHalfWayTheNewScriptIsMovedIn) {
  for (const DWORD first : {ERROR_UNABLE_TO_MOVE_REPLACEMENT, ERROR_UNABLE_TO_MOVE_REPLACEMENT_2}) {
    ScopedTempDir dir;
    writeFile("main.ani", "old");
    HalfReplaced file;
    file.first = first;
    EXPECT_EQ(writeScript({"a.jpg"}, &file), "") << first;
    EXPECT_EQ(readFile("main.ani"), expectedScript({"a.jpg"})) << first;
    EXPECT_EQ(entryCount(".mkani-"), 0) << first;  // the old script's copy is gone too
  }
}

TEST(OutputFileWin32Test, AStopWhileTheRenameIsRetriedWaitsAndTakesNoScriptAway) {
  ScopedTempDir dir;
  writeFile("main.ani", "old");
  // ReplaceFileW has removed the old file; as the new one is moved in, a stop comes and does
  // what the handler of a stop does, in a thread of its own.
  std::thread stop;
  struct Stopped : HalfReplaced {
    int fault(Step step) override {
      if (step == Step::kRename && renames == 1) {
        *stop = std::thread([] {
          awaitStops();
          removeScratchOnStop();
          releaseStops();  // a real stop ends the process here
        });
        Sleep(200);
      }
      return HalfReplaced::fault(step);
    }
    std::thread* stop;
  } file;
  file.first = ERROR_UNABLE_TO_MOVE_REPLACEMENT;
  file.stop = &stop;
  EXPECT_EQ(writeScript({"a.jpg"}, &file), "");
  stop.join();
  EXPECT_EQ(readFile("main.ani"), expectedScript({"a.jpg"}));
}

TEST(OutputFileWin32Test, WhenTheNewScriptCannotBeMovedInEitherWhatRemainsIsKeptAndNamed) {
  // How ReplaceFileW failed half-way, and where the old script is then named: after the copy
  // it made, or nowhere once it removed it.
  const std::pair<DWORD, std::string> cases[] = {
      {ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, "old"},
      {ERROR_UNABLE_TO_MOVE_REPLACEMENT, "<missing>"},
  };
  for (const auto& [first, old] : cases) {
    ScopedTempDir dir;
    writeFile("main.ani", "old");
    HalfReplaced file;
    file.first = first;
    file.later = ERROR_GEN_FAILURE;
    const std::string err = writeScript({"a.jpg"}, &file);
    EXPECT_EQ(readFile(nameAfter(err, "the new script is kept in ")), expectedScript({"a.jpg"}))
        << first;
    EXPECT_EQ(readFile(nameAfter(err, " and the old one in ")), old) << first;
  }
}

TEST(OutputFileWin32Test, AnOldScriptsCopyThatCannotBeRemovedIsNamed) {
  ScopedTempDir dir;
  writeFile("main.ani", "old");
  FaultyFile file({{Step::kRemove, ERROR_GEN_FAILURE}});
  const std::string err = writeScript({"a.jpg"}, &file);
  EXPECT_EQ(readFile("main.ani"), expectedScript({"a.jpg"}));
  EXPECT_EQ(readFile(nameAfter(err, "the old one's copy ")), "old");
}

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

// The size that an allocation was asked for, and what the allocation gives back.
uint64_t allocated = 0;
unsigned long allocation = 0;
unsigned long fakeAllocate(intptr_t /*handle*/, uint64_t size) {
  allocated = size;
  return allocation;
}

TEST(OutputFileWin32Test, RoomIsMadeByAllocatingItWhereTheSystemCanElseFromTheFreeSpace) {
  ScopedTempDir dir;
  writeFile("main.ani", "old");
  const HANDLE file =
      CreateFileA("main.ani", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  const intptr_t handle = reinterpret_cast<intptr_t>(file);
  const uint64_t huge = uint64_t{1} << 62;
  // What the allocation gives back, the size asked for, and the room made.
  const std::tuple<unsigned long, uint64_t, unsigned long> cases[] = {
      {0, huge, 0},                             // allocated: room made
      {ERROR_DISK_FULL, 100, ERROR_DISK_FULL},  // a full NTFS volume
      {ERROR_HANDLE_DISK_FULL, 100, ERROR_HANDLE_DISK_FULL},
      {ERROR_INVALID_PARAMETER, 100, 0},                    // FAT: the free space will do
      {ERROR_INVALID_PARAMETER, huge, ERROR_DISK_FULL},     // or will not
      {ERROR_CALL_NOT_IMPLEMENTED, huge, ERROR_DISK_FULL},  // XP
  };
  for (const auto& [given, size, room] : cases) {
    allocation = given;
    allocated = 0;
    EXPECT_EQ(makeRoom(handle, size, fakeAllocate), room) << given << " " << size;
    EXPECT_EQ(allocated, size) << given << " " << size;
  }
  // A file that holds as much already is never cut by an allocation below its size.
  allocated = 0;
  EXPECT_EQ(makeRoom(handle, 3, fakeAllocate), 0u);
  EXPECT_EQ(allocated, 0u);
  CloseHandle(file);
}

}  // namespace mkani
