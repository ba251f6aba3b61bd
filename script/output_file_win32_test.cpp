// The script's file on Windows: which way it takes the place of the old one, and what it does
// when ReplaceFileW fails half-way.
#include <gtest/gtest.h>
#include <windows.h>

#include <regex>
#include <thread>
#include <tuple>

#include "test/test_util.h"
#include "util/platform.h"
#include "util/scratch_file.h"
#include "util/stops.h"

namespace mkani {

using Step = DiskOutputFile::Step;

// The script's file, whose first rename fails half-way as ReplaceFileW's can: having removed the
// old file (1176, no copy asked for) or moved it to the copy's name (1177). As the new script is
// then moved in, a stop comes and does what the handler of a stop does, in a thread of its own;
// the later renames fail with `later`.
struct HalfReplaced : FaultyFile {
  using FaultyFile::FaultyFile;
  int fault(Step step) override {
    if (step != Step::kRename || first == 0) return FaultyFile::fault(step);
    if (renames++ > 0) return later;
    if (first == ERROR_UNABLE_TO_MOVE_REPLACEMENT) DeleteFileA("main.ani");
    WIN32_FIND_DATAA found;
    FindClose(FindFirstFileA(".mkani-*.tmp", &found));
    const std::string scratch = found.cFileName;
    const std::string copy = scratch.substr(0, scratch.rfind('.')) + ".old";
    if (first == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) MoveFileA("main.ani", copy.c_str());
    stop = std::thread([] {
      awaitStops();
      removeScratchOnStop();
      releaseStops();  // a real stop ends the process here
    });
    Sleep(200);
    return static_cast<int>(first);
  }
  DWORD first = 0;
  int later = 0;
  int renames = 0;
  std::thread stop;
};

TEST(OutputFileWin32Test, WhenReplaceFileWFailsHalfWayTheNewScriptIsMovedInElseKeptAndNamed) {
  const std::string failure = systemError(ERROR_GEN_FAILURE);
  const std::string kept = failure + "; the new script is kept in .mkani-*.tmp";
  const std::string copyLeft =
      "the new script is in place, but the old one's copy .mkani-*.old cannot be removed: ";
  // How ReplaceFileW failed half-way, how the later renames fail and the removal of the old
  // script's copy, what main.ani holds then and why it cannot be written, the run's numbers in
  // names masked.
  const std::tuple<DWORD, int, int, std::string, std::string> cases[] = {
      {ERROR_UNABLE_TO_MOVE_REPLACEMENT, 0, 0, "new", ""},
      {ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, 0, 0, "new", ""},
      {ERROR_UNABLE_TO_MOVE_REPLACEMENT, ERROR_GEN_FAILURE, 0, "<missing>", kept},
      {ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, ERROR_GEN_FAILURE, 0, "<missing>",
       kept + " and the old one in .mkani-*.old"},
      {0, 0, ERROR_GEN_FAILURE, "new", copyLeft + failure},  // replaced, the copy left
  };
  const std::string fresh = expectedScript({"a.jpg"});
  const std::regex scratch("\\.mkani-[0-9]+-[0-9]+\\.(tmp|old)");
  for (const auto& [first, later, remove, now, reason] : cases) {
    ScopedTempDir dir;
    writeFile("main.ani", "old");
    HalfReplaced file({{Step::kRemove, remove}});
    file.first = first;
    file.later = later;
    const std::string err = writeScript({"a.jpg"}, &file);
    if (file.stop.joinable()) file.stop.join();
    EXPECT_EQ(readFile("main.ani"), now == "new" ? fresh : now) << first << " " << later;
    const std::string masked = std::regex_replace(err, std::regex("-[0-9]+-[0-9]+\\."), "-*.");
    EXPECT_EQ(masked, reason.empty() ? "" : "cannot write main.ani: " + reason);
    // Each scratch file that the error names is left, holding the new script; a copy, the old.
    long named = 0;
    for (std::sregex_iterator at(err.begin(), err.end(), scratch), end; at != end; ++at) {
      EXPECT_EQ(readFile(at->str()), (*at)[1] == "tmp" ? fresh : "old") << at->str();
      ++named;
    }
    EXPECT_EQ(entryCount(".mkani-"), named) << first << " " << later;
  }
}

TEST(OutputFileWin32Test, AnOldScriptIsRefusedReplacedWholeOrRewrittenInPlaceAsItStands) {
  const std::string link = "cannot write main.ani: it is a symbolic link";
  // What the old file is found to be (a reparse tag), or why it cannot be opened to be replaced
  // and how many times; the error, and whether it is then rewritten in place.
  const std::tuple<Step, int, int, std::string, bool> cases[] = {
      {Step::kReparseTag, 0xA000000C, 1, link, false},  // IO_REPARSE_TAG_SYMLINK
      {Step::kReparseTag, 0xA0000003, 1, link, false},  // IO_REPARSE_TAG_MOUNT_POINT, a junction
      {Step::kReparseTag, 0x9000001A, 1, "", false},    // IO_REPARSE_TAG_CLOUD_6, from OneDrive
      {Step::kReparseTag, 0x80000013, 1, "", false},    // IO_REPARSE_TAG_DEDUP
      {Step::kReparseTag, 0x80000017, 1, "", false},    // IO_REPARSE_TAG_WOF, a compressed file
      {Step::kOpenOld, ERROR_SHARING_VIOLATION, 3, "", false},  // held for a moment
      {Step::kOpenOld, ERROR_ACCESS_DENIED, 1000, "", true},    // "Write" granted, not "Modify"
  };
  for (const auto& [step, error, times, reason, inPlace] : cases) {
    ScopedTempDir dir;
    writeFile("main.ani", "old");
    struct Refusing : FaultyFile {
      int fault(Step at) override {
        if (at == step && calls++ < times) return error;
        return FaultyFile::fault(at);
      }
      Step step;
      int error;
      int times;
      int calls = 0;
    } file;
    file.step = step;
    file.error = error;
    file.times = times;
    EXPECT_EQ(writeScript({"a.jpg"}, &file), reason) << error;
    EXPECT_EQ(file.inPlace(), inPlace) << error;
    EXPECT_EQ(readFile("main.ani"), reason.empty() ? expectedScript({"a.jpg"}) : "old") << error;
  }
}

TEST(OutputFileWin32Test, AScratchFileAScannerHoldsAfterACopyInPlaceIsRemovedOnceLetGo) {
  ScopedTempDir dir;
  writeFile("main.ani", "old");
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
        scanner = std::thread([held] {
          Sleep(200);
          CloseHandle(held);
        });
      }
      return FaultyFile::fault(step);
    }
    std::thread scanner;
  } file({{Step::kRename, ERROR_NOT_SAME_DEVICE}});
  EXPECT_EQ(writeScript({"a.jpg"}, &file), "");
  file.scanner.join();
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

TEST(OutputFileWin32Test, AScratchFileRefusedForAnotherReasonKeepsTheOldScriptAndSaysWhy) {
  ScopedTempDir dir;
  writeFile("main.ani", "old");
  FaultyFile file({{Step::kCreate, ERROR_INVALID_FUNCTION}});  // some shares answer so
  EXPECT_EQ(writeScript({"a.jpg"}, &file),
            "cannot write main.ani: " + systemError(ERROR_INVALID_FUNCTION));
  EXPECT_EQ(readFile("main.ani"), "old");
}

TEST(OutputFileWin32Test, RoomIsMadeByAllocatingItWhereTheSystemCanElseFromTheFreeSpace) {
  ScopedTempDir dir;
  writeFile("main.ani", "old");
  const HANDLE file =
      CreateFileA("main.ani", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  const intptr_t handle = reinterpret_cast<intptr_t>(file);
  const uint64_t huge = uint64_t{1} << 62;
  // The size that an allocation was asked for, and what the allocation gives back.
  static uint64_t allocated = 0;
  static unsigned long allocation = 0;
  const Allocate fakeAllocate = [](intptr_t, uint64_t size) {
    allocated = size;
    return allocation;
  };
  // What the allocation gives back, the size asked for, the room made, and the size that the
  // allocation is asked for: none below what the file holds already, which it would cut.
  const std::tuple<unsigned long, uint64_t, unsigned long, uint64_t> cases[] = {
      {0, huge, 0, huge},                            // allocated: room made
      {ERROR_DISK_FULL, 100, ERROR_DISK_FULL, 100},  // a full NTFS volume
      {ERROR_HANDLE_DISK_FULL, 100, ERROR_HANDLE_DISK_FULL, 100},
      {ERROR_INVALID_PARAMETER, 100, 0, 100},                     // FAT: the free space will do
      {ERROR_INVALID_PARAMETER, huge, ERROR_DISK_FULL, huge},     // or will not
      {ERROR_CALL_NOT_IMPLEMENTED, huge, ERROR_DISK_FULL, huge},  // XP
      {ERROR_DISK_FULL, 3, 0, 0},
  };
  for (const auto& [given, size, room, asked] : cases) {
    allocation = given;
    allocated = 0;
    EXPECT_EQ(makeRoom(handle, size, fakeAllocate), room) << given << " " << size;
    EXPECT_EQ(allocated, asked) << given << " " << size;
  }
  CloseHandle(file);
}

}  // namespace mkani
